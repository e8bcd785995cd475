// Reference models for the fuzz targets, written from the rules rather
// than from the product code, so that the two can be compared.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/common/samples.h"

namespace model {

// Size argument: sign, radix prefix, digits, one suffix, 32-bit wrap.
inline int32_t parse_size(const std::string& text) {
  const std::string digits = "0123456789abcdef";
  size_t i = 0;
  auto at = [&](size_t k) -> unsigned {
    return k < text.size() ? static_cast<unsigned char>(text[k]) : 0;
  };
  const bool negative = at(i) == '-';
  if (negative) ++i;
  unsigned radix = 10;
  if (at(i) == '0') {
    ++i;
    radix = 8;
    const int marker = std::tolower(at(i));
    if (marker == 'x') radix = 16;
    if (marker == 'b') radix = 2;
    if (marker == 'x' || marker == 'b' || marker == 'o') ++i;
  }
  uint64_t value = 0;
  unsigned suffix = 0;
  for (;; ++i) {
    const unsigned c = at(i);
    const size_t d = c == 0 ? std::string::npos
                            : digits.find(static_cast<char>(std::tolower(c)));
    if (d == std::string::npos) {
      suffix = static_cast<unsigned>(std::toupper(c));
      break;
    }
    if (d >= radix) break;  // a digit value is never a suffix letter
    value = (value * radix + d) % (uint64_t(1) << 32);
  }
  const int shift = suffix == 'K'   ? 10
                    : suffix == 'M' ? 20
                    : suffix == 'G' ? 30
                                    : 0;
  value = (value << shift) % (uint64_t(1) << 32);
  if (negative) value = ((uint64_t(1) << 32) - value) % (uint64_t(1) << 32);
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Command line: bytes 0x01..0x20 separate unless quoted; '"' toggles
// quoting and is dropped; the line always yields at least one argument.
inline std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> args;
  auto separator = [](unsigned char c) { return c >= 1 && c <= 0x20; };
  size_t i = 0;
  while (i < line.size() && separator(line[i])) ++i;
  do {
    std::string arg;
    bool quoting = false;
    while (i < line.size() && (quoting || !separator(line[i]))) {
      if (line[i] == '"') {
        quoting = !quoting;
      } else {
        arg += line[i];
      }
      ++i;
    }
    args.push_back(arg);
    while (i < line.size() && separator(line[i])) ++i;
  } while (i < line.size());
  return args;
}

using samples::get_word;
using samples::put_word;

// The Tamrisk file krelt makes of a well-formed bim image.
inline std::vector<unsigned char> convert(std::vector<unsigned char> b,
                                          uint32_t heap, uint32_t mmarea) {
  const uint32_t a = get_word(b, 0x0C), w10 = get_word(b, 0x10),
                 c = get_word(b, 0x14), entry = get_word(b, 0x18),
                 d = get_word(b, 0x1C);
  const uint32_t heap_start = (a + c + d + 15) / 16 * 16;
  put_word(b, 0x00, (heap_start + heap + 4095) / 4096 * 4096);
  put_word(b, 0x04, 'M' | 'O' << 8 | 'G' << 16 | 'E' << 24);
  put_word(b, 0x08, mmarea);
  put_word(b, 0x0C, c);
  put_word(b, 0x10, a);
  put_word(b, 0x14, w10);
  put_word(b, 0x18, 0xE9000000);
  put_word(b, 0x1C, entry - 0x20);
  put_word(b, 0x20, heap_start);
  return b;
}

}  // namespace model
