#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory/memory_platform.h"
#include "runtime/start.h"

namespace {

namespace mp = memory_platform;
using Args = std::vector<std::string>;

Args split(const std::string& line) {
  mp::reset();
  mp::state().command_line = line;
  int argc = -1;
  char** argv = split_command_line(&argc);
  EXPECT_NE(argv, nullptr);
  if (argv == nullptr) return {};
  EXPECT_EQ(argv[argc], nullptr) << "vector must end with a null entry";
  return Args(argv, argv + argc);
}

struct SplitCase {
  const char* name;
  std::string line;
  Args args;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, Arguments) { EXPECT_EQ(split(GetParam().line), GetParam().args); }

INSTANTIATE_TEST_SUITE_P(
    Rules, Split,
    testing::Values(
        SplitCase{"FourWords",
                  "krelt a.bim a.v 64k",
                  {"krelt", "a.bim", "a.v", "64k"}},
        SplitCase{"QuotedProgramPath",
                  "\"C:\\Program Files\\Tamrisk\\krelt.exe\" in.bim",
                  {"C:\\Program Files\\Tamrisk\\krelt.exe", "in.bim"}},
        SplitCase{"TabSeparates", "a\tb", {"a", "b"}},
        SplitCase{"ControlBytesSeparate",
                  "a\x01"
                  "b\x1f"
                  "c\x0d\x0a"
                  "d",
                  {"a", "b", "c", "d"}},
        SplitCase{
            "HighBytesAreOrdinary", "\x7f\x80 \xff", {"\x7f\x80", "\xff"}},
        SplitCase{"EmptyQuotesCount", "a \"\" b", {"a", "", "b"}},
        SplitCase{"EmptyQuotesAtEnd", "a \"\"", {"a", ""}},
        SplitCase{"UnclosedQuoteTakesTheRest", "a \"b  c\t ", {"a", "b  c\t "}},
        SplitCase{"QuotingMidArgument", "a\"b c\"d", {"ab cd"}},
        SplitCase{"BackslashIsOrdinary", "a\\\" b\\", {"a\\ b\\"}},
        SplitCase{"RunsOfSeparators", "  a \t  b   ", {"a", "b"}},
        SplitCase{"EmptyLine", "", {""}},
        SplitCase{"SeparatorsOnly", " \t ", {""}},
        SplitCase{"OnlyEmptyQuotes", "\"\"", {""}},
        SplitCase{"QuoteRunsIntoNextWord", "\"a\"b \"c\"", {"ab", "c"}}),
    [](const testing::TestParamInfo<SplitCase>& param_info) {
      return std::string(param_info.param.name);
    });

TEST(SplitAllocation, EitherBlockMissingGivesNullVector) {
  for (uint64_t failing = 1; failing <= 2; ++failing) {
    mp::reset();
    mp::state().command_line = "krelt a b c";
    mp::state().faults = {mp::nth(mp::CALL_HEAP_ALLOC, failing)};
    int argc = -1;
    EXPECT_EQ(split_command_line(&argc), nullptr);
    EXPECT_EQ(argc, 0);
    EXPECT_TRUE(mp::state().fault_hit);
  }
}

}  // namespace
