#include "converter/size.h"

#include <gtest/gtest.h>

namespace {

struct SizeCase {
  const char* text;
  int32_t value;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
  *os << "\"" << c.text << "\"";
}

class ParseSize : public testing::TestWithParam<SizeCase> {};

TEST_P(ParseSize, Value) {
  EXPECT_EQ(parse_size(GetParam().text), GetParam().value)
      << "text: \"" << GetParam().text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseSize,
    testing::Values(
        SizeCase{"", 0}, SizeCase{"0", 0}, SizeCase{"10", 10},
        SizeCase{"64k", 65536}, SizeCase{"64K", 65536}, SizeCase{"1m", 1048576},
        SizeCase{"1g", 0x40000000}, SizeCase{"2g", INT32_MIN},
        SizeCase{"0x100", 256}, SizeCase{"0X1f", 31}, SizeCase{"010", 8},
        SizeCase{"08", 0}, SizeCase{"0o17", 15}, SizeCase{"0b101", 5},
        SizeCase{"0B11k", 3072}, SizeCase{"-4k", -4096}, SizeCase{"-0x10", -16},
        SizeCase{"12a", 12}, SizeCase{"abc", 0}, SizeCase{"+5", 0},
        SizeCase{"1kb", 1024}, SizeCase{"0xAk", 10240},
        SizeCase{"4294967296", 0},
        // Beyond the table: the details that make or break a parser.
        SizeCase{"12.5k", 12}, SizeCase{"1 k", 1}, SizeCase{"0x1b", 27},
        SizeCase{"0x10k", 16384}, SizeCase{"0x10G", 0},
        SizeCase{"1b", 1},     // a digit too big ends the number, no suffix
        SizeCase{"0b12k", 1},  // '2' in binary ends it as value 2, not 'k'
        SizeCase{"09k", 0},    // likewise in octal
        SizeCase{"0k", 0}, SizeCase{"0x", 0}, SizeCase{"0xk", 0},
        SizeCase{"-", 0}, SizeCase{"--5", 0},
        SizeCase{"4095m", static_cast<int32_t>(0xFFF00000u)},
        SizeCase{"4294967295", -1}, SizeCase{"0xFFFFFFFF", -1},
        SizeCase{"0x100000000", 0}, SizeCase{"3g", -0x40000000},
        SizeCase{"1mk", 1048576}, SizeCase{"7\xEB", 7}, SizeCase{"0o", 0},
        SizeCase{"0b", 0}, SizeCase{"0q7", 0}));

}  // namespace
