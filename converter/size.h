// Size arguments: decimal, 0x hex, 0o or leading-0 octal, 0b binary, an
// optional leading '-', and one optional K, M or G suffix. Never fails:
// text without a number yields 0; values wrap at 32 bits.
#pragma once

#include <stdint.h>

int32_t parse_size(const char* text);
