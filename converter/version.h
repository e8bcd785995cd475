// The release both programs carry, from project(VERSION) in CMakeLists.txt.
#pragma once

// "krelt version 1.0.0": findable in a program's bytes (strings krelt).
extern const char VERSION_TEXT[];
// Where the number starts in VERSION_TEXT.
constexpr unsigned VERSION_NUMBER_AT = 14;
