#include "runtime/format.h"

char* put_number(char* text, uint32_t high, uint32_t low, uint32_t radix,
                 uint32_t min_digits) {
  // Long division of four 16-bit limbs: each step divides a value below
  // radix * 2^16, which fits 32 bits.
  uint32_t limbs[4] = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
  char reversed[NUMBER_ROOM];
  uint32_t n = 0;
  do {
    uint32_t rest = 0;
    for (uint32_t& limb : limbs) {
      const uint32_t part = rest << 16 | limb;
      limb = part / radix;
      rest = part % radix;
    }
    reversed[n++] = "0123456789ABCDEF"[rest];
  } while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0 ||
           (n < min_digits && n < NUMBER_ROOM - 1));
  while (n > 0) *text++ = reversed[--n];
  *text = 0;
  return text;
}
