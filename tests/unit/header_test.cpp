// The header rewrite, checked against words written out by hand.
#include "converter/header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/common/samples.h"

namespace {

using namespace samples;

Bytes bim(uint32_t w0c, uint32_t w10, uint32_t w14, uint32_t entry,
          uint32_t w1c) {
  Bytes h(HEADER_SIZE, 0xCC);
  put_word(h, 0x04, 36);
  put_word(h, 0x08, 36);
  put_word(h, 0x0C, w0c);
  put_word(h, 0x10, w10);
  put_word(h, 0x14, w14);
  put_word(h, 0x18, entry);
  put_word(h, 0x1C, w1c);
  return h;
}

TEST(Header, WorkedExampleAtAnyAlignment) {
  for (size_t at = 0; at < 4; ++at) {
    Bytes buffer(at, 0xEE);
    const Bytes h = bim(0x1000, 0x5000, 0x310000, 0x24, 0x208);
    buffer.insert(buffer.end(), h.begin(), h.end());
    rewrite_header(buffer.data() + at, 64 * 1024, 1024 * 1024);
    EXPECT_EQ(Bytes(buffer.begin() + at, buffer.end()), WORKED_HEADER) << at;
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + at), Bytes(at, 0xEE));
  }
}

struct ArithmeticCase {
  const char* name;
  uint32_t w0c, w14, w1c, entry, heap_size;
  uint32_t heap_start, memory_size, displacement;
};

void PrintTo(const ArithmeticCase& c, std::ostream* os) { *os << c.name; }

class HeaderArithmetic : public testing::TestWithParam<ArithmeticCase> {};

TEST_P(HeaderArithmetic, WrapsAndRounds) {
  const ArithmeticCase& c = GetParam();
  Bytes h = bim(c.w0c, 0, c.w14, c.entry, c.w1c);
  rewrite_header(h.data(), c.heap_size, 0);
  EXPECT_EQ(get_word(h, 0x20), c.heap_start);
  EXPECT_EQ(get_word(h, 0x00), c.memory_size);
  EXPECT_EQ(get_word(h, 0x1C), c.displacement);
}

// name; bim words 0x0C, 0x14, 0x1C, entry; heap size; the results.
const std::vector<ArithmeticCase> ARITHMETIC = {
    {"AlignedStaysPut", 0x100, 0x200, 0x300, 0x24, 0x400, 0x600, 0x1000, 4},
    {"OnePastRoundsUp", 1, 0, 0, 0x20, 0x1000, 0x10, 0x2000, 0},
    {"EntryBelow0x20Wraps", 0, 0, 0, 0, 0, 0, 0, 0xFFFFFFE0},
    {"SumWrapsFirst", 0xFFFFFFF0, 0x20, 1, 0x24, 0, 0x20, 0x1000, 4},
    {"RoundingWrapsTo0", 0xFFFFFFF1, 0, 0, 0x24, 0, 0, 0, 4},
    {"NegativeHeapSize", 0x10000, 0, 0, 0x24, 0xFFFFF000, 0x10000, 0xF000, 4},
};

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderArithmetic, testing::ValuesIn(ARITHMETIC),
    [](const testing::TestParamInfo<ArithmeticCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(Header, OtherFieldsMoveAndSignatureIsWritten) {
  Bytes h = bim(0xA0A0A0A0, 0xB1B1B1B1, 0xC2C2C2C2, 0x1234, 0);
  rewrite_header(h.data(), 0, 0xDEADBEEF);
  EXPECT_EQ(0, std::memcmp(&h[0x04], "MOGE", 4));
  EXPECT_EQ(get_word(h, 0x08), 0xDEADBEEFu);
  EXPECT_EQ(get_word(h, 0x0C), 0xC2C2C2C2u);
  EXPECT_EQ(get_word(h, 0x10), 0xA0A0A0A0u);
  EXPECT_EQ(get_word(h, 0x14), 0xB1B1B1B1u);
  EXPECT_EQ(get_word(h, 0x18), 0xE9000000u);
  // The jump lands on the entry: its displacement counts from 0x20.
  EXPECT_EQ(get_word(h, 0x1C) + 0x20, 0x1234u);
  EXPECT_EQ(v_entry(h.data()), 0x1234u);
}

TEST(Header, CheckWordsMustBothBe36) {
  EXPECT_TRUE(is_bim_header(bim(0, 0, 0, 0, 0).data()));
  for (const size_t at : {4, 8}) {
    for (const uint32_t value : {37u, 36u << 8, 0u}) {
      Bytes h = bim(0, 0, 0, 0, 0);
      put_word(h, at, value);
      EXPECT_FALSE(is_bim_header(h.data())) << at << ": " << value;
    }
  }
}

}  // namespace
