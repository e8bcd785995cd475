#include "converter/size.h"

namespace {

// Upper case for letters; any byte above 0x60 loses 0x20.
uint32_t fold(uint32_t byte) { return byte > 0x60 ? byte - 0x20 : byte; }

// Digit value of a byte, or -1 for a byte that is no digit in any radix.
int digit_value(uint32_t byte) {
  if (byte >= '0' && byte <= '9') return static_cast<int>(byte - '0');
  if (byte >= 'A' && byte <= 'F') return static_cast<int>(byte - 'A' + 10);
  if (byte >= 'a' && byte <= 'f') return static_cast<int>(byte - 'a' + 10);
  return -1;
}

}  // namespace

int32_t parse_size(const char* text) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  bool negative = false;
  if (*p == '-') {
    negative = true;
    ++p;
  }

  uint32_t radix = 10;
  if (*p == '0') {
    ++p;
    radix = 8;
    const uint32_t marker = fold(*p);
    if (marker == 'X') {
      radix = 16;
      ++p;
    } else if (marker == 'O') {
      ++p;
    } else if (marker == 'B') {
      radix = 2;
      ++p;
    }
  }

  uint32_t value = 0;
  uint32_t terminator;
  for (;;) {
    const uint32_t byte = *p++;
    const int digit = digit_value(byte);
    if (digit < 0) {
      terminator = byte;
      break;
    }
    // A digit too large for the radix ends the number as its value, so it
    // can never be read as a suffix letter.
    if (static_cast<uint32_t>(digit) >= radix) {
      terminator = static_cast<uint32_t>(digit);
      break;
    }
    value = value * radix + static_cast<uint32_t>(digit);
  }

  switch (fold(terminator)) {
    case 'K':
      value <<= 10;
      break;
    case 'M':
      value <<= 20;
      break;
    case 'G':
      value <<= 30;
      break;
    default:
      break;
  }
  return static_cast<int32_t>(negative ? 0u - value : value);
}
