#include "info/output.h"

#include "runtime/format.h"
#include "runtime/stream.h"

void out(const char* text) { stream_puts(text, &std_out); }

void end_line() { out("\n"); }

// In groups of four digits by long division of 16-bit limbs, so that
// 32-bit arithmetic does; the last group comes out first.
void out_decimal(uint32_t high, uint32_t low) {
  char text[NUMBER_ROOM];
  uint32_t limbs[4] = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
  uint32_t groups[5];
  uint32_t n = 0;
  do {
    uint32_t rest = 0;
    for (uint32_t& limb : limbs) {
      const uint32_t part = rest << 16 | limb;
      limb = part / 10000;
      rest = part % 10000;
    }
    groups[n++] = rest;
  } while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0);
  for (uint32_t i = n; i-- > 0;) {
    put_number(text, groups[i], 10, i + 1 == n ? 1 : 4);
    out(text);
  }
}

void out_number(uint32_t high, uint32_t low) {
  char text[NUMBER_ROOM];
  out("0x");
  if (high != 0) {
    put_hex(text, high, 8);
    out(text);
  }
  put_hex(text, low, 8);
  out(text);
  out(" (");
  out_decimal(high, low);
  out(")");
}
