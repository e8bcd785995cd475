// Integers as text, in decimal or upper-case hex, with 32-bit arithmetic
// only, so no runtime library routine is needed even for a 64-bit value.
#pragma once

#include <stdint.h>

// The most put_number writes: the 20 decimal digits of 2^64 - 1 and a zero.
constexpr uint32_t NUMBER_ROOM = 21;

// Writes the value high:low at text in radix 10 or 16, at least
// min_digits digits (zeros in front, 20 at most), then a terminating zero,
// and returns the position of that zero, so that more text can follow.
char* put_number(char* text, uint32_t high, uint32_t low, uint32_t radix,
                 uint32_t min_digits);

inline char* put_decimal(char* text, uint32_t value) {
  return put_number(text, 0, value, 10, 1);
}

// value in hex, zeros in front to make up digits.
inline char* put_hex(char* text, uint32_t value, uint32_t digits) {
  return put_number(text, 0, value, 16, digits);
}
