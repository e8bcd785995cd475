// What the unit, end-to-end and fuzz tests share: the programs' messages as
// they reach standard output, sample images, and the worked example with
// the header it must become, all written out by hand rather than taken
// from the product code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace samples {

using Bytes = std::vector<unsigned char>;

inline const std::string USAGE =
    "usage>krelt appname.bim appname.v heap-size [mmarea-size]\r\n";
inline const std::string READ_ERROR = "bim file read error\r\n";
inline const std::string FORMAT_ERROR = "bim file format error\r\n";
inline const std::string WRITE_ERROR = "Tamrisk file write error\r\n";
inline const std::vector<std::string> MESSAGES = {USAGE, READ_ERROR,
                                                  FORMAT_ERROR, WRITE_ERROR};

inline void put_word(Bytes& b, size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[offset + i] = (v >> (8 * i)) & 0xFF;
}

inline uint32_t get_word(const Bytes& b, size_t offset) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | b[offset + i];
  return v;
}

// size bytes of a pattern that repeats nowhere near the header, with both
// check words of a bim header where there is room for them.
inline Bytes image(size_t size, uint32_t check_b = 36) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) {
    b[i] = static_cast<unsigned char>(i * 29 + 5);
  }
  if (size >= 12) {
    put_word(b, 4, 36);
    put_word(b, 8, check_b);
  }
  return b;
}

// A 100-byte image with words 0x0C..0x1C of 0x1000, 0x5000, 0x310000,
// entry 0x24 and 0x208.
inline Bytes worked_example() {
  Bytes b = image(100);
  put_word(b, 0x0C, 0x1000);
  put_word(b, 0x10, 0x5000);
  put_word(b, 0x14, 0x310000);
  put_word(b, 0x18, 0x24);
  put_word(b, 0x1C, 0x208);
  return b;
}

// The worked example's header after `krelt app.bim app.v 64k 1m`.
inline const Bytes WORKED_HEADER = {
    0x00, 0x20, 0x32, 0x00, 0x4D, 0x4F, 0x47, 0x45, 0x00, 0x00, 0x10, 0x00,
    0x00, 0x00, 0x31, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00,
    0x00, 0x00, 0x00, 0xE9, 0x04, 0x00, 0x00, 0x00, 0x10, 0x12, 0x31, 0x00};

inline Bytes with_header(Bytes b, const Bytes& header) {
  for (size_t i = 0; i < header.size(); ++i) b[i] = header[i];
  return b;
}

}  // namespace samples
