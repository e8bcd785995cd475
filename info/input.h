// Files opened and read as krelt reads an image: any readable file,
// pipe or device, to the image limit and one byte more.
#pragma once

#include <stdint.h>

#include "runtime/stream.h"

struct Input {
  Stream* stream;
  bool is_std_in;
  bool length_known;  // the file system keeps its length
  uint64_t length;
};

// Opens path for reading; "-" is standard input where dash_is_std_in.
// False, with why the file cannot be used in *why, where it cannot be.
bool open_input(const char* path, bool dash_is_std_in, Input* input,
                const char** why);
void close_input(Input* input);

// Writes text, then what the words at 0x04 and 0x08 of the first n bytes
// hold ("0x12345678 at 0x04, 0x9ABCDEF0 at 0x08"), or where the file ends
// before them ("the file ends at 0x06"), at room (ERROR_ROOM bytes).
void put_found_words(char* room, const char* text, const unsigned char* bytes,
                     uint32_t n);
