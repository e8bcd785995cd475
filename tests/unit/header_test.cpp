#include "converter/header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "tests/common/samples.h"

namespace {

using Header = std::array<unsigned char, HEADER_SIZE>;

Header bim(uint32_t w0c, uint32_t w10, uint32_t w14, uint32_t entry,
           uint32_t w1c) {
  Header h;
  h.fill(0xCC);
  put_u32le(&h[BIM_CHECK_A], 36);
  put_u32le(&h[BIM_CHECK_B], 36);
  put_u32le(&h[BIM_WORD_0C], w0c);
  put_u32le(&h[BIM_WORD_10], w10);
  put_u32le(&h[BIM_WORD_14], w14);
  put_u32le(&h[BIM_ENTRY], entry);
  put_u32le(&h[BIM_WORD_1C], w1c);
  return h;
}

TEST(Header, WorkedExample) {
  Header h = bim(0x1000, 0x5000, 0x310000, 0x24, 0x208);
  rewrite_header(h.data(), 64 * 1024, 1024 * 1024);
  EXPECT_EQ(samples::Bytes(h.begin(), h.end()), samples::WORKED_HEADER);
}

TEST(Header, WordsAreLittleEndianWhateverTheAlignment) {
  unsigned char bytes[7] = {};
  put_u32le(bytes + 3, 0x11223344);
  EXPECT_EQ(bytes[3], 0x44);
  EXPECT_EQ(bytes[6], 0x11);
  EXPECT_EQ(get_u32le(bytes + 3), 0x11223344u);
}

struct ArithmeticCase {
  uint32_t w0c, w14, w1c, entry, heap_size;
  uint32_t heap_start, memory_size, displacement;
};

void PrintTo(const ArithmeticCase&, std::ostream* os) { *os << "case"; }

class HeaderArithmetic : public testing::TestWithParam<ArithmeticCase> {};

TEST_P(HeaderArithmetic, WrapsAndRounds) {
  const ArithmeticCase& c = GetParam();
  Header h = bim(c.w0c, 0, c.w14, c.entry, c.w1c);
  rewrite_header(h.data(), c.heap_size, 0);
  EXPECT_EQ(get_u32le(&h[V_HEAP_START]), c.heap_start);
  EXPECT_EQ(get_u32le(&h[V_MEMORY_SIZE]), c.memory_size);
  EXPECT_EQ(get_u32le(&h[V_JUMP_DISPLACEMENT]), c.displacement);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HeaderArithmetic,
    testing::Values(
        // Already aligned values stay put.
        ArithmeticCase{0x100, 0x200, 0x300, 0x24, 0x400, 0x600, 0x1000, 4},
        // One past alignment rounds up a whole step.
        ArithmeticCase{1, 0, 0, 0x20, 0x1000, 0x10, 0x2000, 0},
        // Entry below 0x20 wraps.
        ArithmeticCase{0, 0, 0, 0, 0, 0, 0, 0xFFFFFFE0},
        // The sum of the three words wraps before rounding.
        ArithmeticCase{0xFFFFFFF0, 0x20, 1, 0x24, 0, 0x20, 0x1000, 4},
        // Rounding the heap start past 2^32 wraps to 0.
        ArithmeticCase{0xFFFFFFF1, 0, 0, 0x24, 0, 0, 0, 4},
        // A "negative" heap size is its two's complement word.
        ArithmeticCase{0x10000, 0, 0, 0x24, 0xFFFFF000, 0x10000, 0xF000, 4}));

TEST(Header, OtherFieldsMoveAndSignatureIsWritten) {
  Header h = bim(0xA0A0A0A0, 0xB1B1B1B1, 0xC2C2C2C2, 0x1234, 0);
  rewrite_header(h.data(), 0, 0xDEADBEEF);
  EXPECT_EQ(0, std::memcmp(&h[V_SIGNATURE], "MOGE", 4));
  EXPECT_EQ(get_u32le(&h[V_MMAREA_SIZE]), 0xDEADBEEFu);
  EXPECT_EQ(get_u32le(&h[V_WORD_0C]), 0xC2C2C2C2u);
  EXPECT_EQ(get_u32le(&h[V_WORD_10]), 0xA0A0A0A0u);
  EXPECT_EQ(get_u32le(&h[V_WORD_14]), 0xB1B1B1B1u);
  EXPECT_EQ(h[0x18], 0);
  EXPECT_EQ(h[0x19], 0);
  EXPECT_EQ(h[0x1A], 0);
  EXPECT_EQ(h[0x1B], 0xE9);
  // The jump lands on the entry: its displacement counts from 0x20.
  EXPECT_EQ(get_u32le(&h[V_JUMP_DISPLACEMENT]) + 0x20, 0x1234u);
}

TEST(Header, CheckWordsMustBothBe36) {
  Header h = bim(0, 0, 0, 0, 0);
  EXPECT_TRUE(is_bim_header(h.data()));
  put_u32le(&h[BIM_CHECK_B], 37);
  EXPECT_FALSE(is_bim_header(h.data()));
  put_u32le(&h[BIM_CHECK_B], 36);
  put_u32le(&h[BIM_CHECK_A], 36 << 8);
  EXPECT_FALSE(is_bim_header(h.data()));
}

}  // namespace
