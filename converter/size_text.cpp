// The size grammar on its own, so that krelt, which never refuses a size,
// carries none of it.
#include "converter/size.h"

namespace {

uint32_t upper(uint32_t byte) {
  return byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte;
}

bool is_digit(uint32_t byte, uint32_t radix) {
  const uint32_t c = upper(byte);
  const uint32_t value = c >= '0' && c <= '9'   ? c - '0'
                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                : 16;
  return value < radix;
}

}  // namespace

bool is_size_text(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  if (*p == '-') ++p;
  uint32_t radix = 10;
  bool zero = false;  // a bare 0 is a whole number
  if (*p == '0') {
    ++p;
    radix = 8;
    zero = true;
    const uint32_t marker = upper(*p);
    if (marker == 'X' || marker == 'O' || marker == 'B') {
      radix = marker == 'X' ? 16 : marker == 'O' ? 8 : 2;
      zero = false;
      ++p;
    }
  }
  uint32_t digits = 0;
  while (is_digit(*p, radix)) {
    ++digits;
    ++p;
  }
  if (digits == 0 && !zero) return false;
  const uint32_t suffix = upper(*p);
  if (suffix == 'K' || suffix == 'M' || suffix == 'G') ++p;
  return *p == 0;
}
