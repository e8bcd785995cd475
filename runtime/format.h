// Integers as text, in decimal or upper-case hex, for messages and names.
#pragma once

#include <stdint.h>

// The most put_number writes: 32 binary digits and a terminating zero.
constexpr uint32_t NUMBER_ROOM = 33;

// Writes value at text in radix 2 to 16, at least min_digits digits (zeros
// in front), then a terminating zero, and returns the position of that
// zero, so that more text can follow.
char* put_number(char* text, uint32_t value, uint32_t radix,
                 uint32_t min_digits);

inline char* put_decimal(char* text, uint32_t value) {
  return put_number(text, value, 10, 1);
}

inline char* put_hex(char* text, uint32_t value, uint32_t digits) {
  return put_number(text, value, 16, digits);
}
