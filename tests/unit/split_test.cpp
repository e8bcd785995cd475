#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/memory/memory_platform.h"
#include "runtime/start.h"
#include "tests/common/split_cases.h"

namespace {

namespace mp = memory_platform;
using samples::SplitCase;

std::vector<std::string> split(const std::string& line) {
  mp::reset();
  mp::state().command_line = line;
  int argc = -1;
  char** argv = split_command_line(&argc);
  EXPECT_NE(argv, nullptr);
  if (argv == nullptr) return {};
  EXPECT_EQ(argv[argc], nullptr) << "vector must end with a null entry";
  return std::vector<std::string>(argv, argv + argc);
}

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, Arguments) { EXPECT_EQ(split(GetParam().line), GetParam().args); }

INSTANTIATE_TEST_SUITE_P(Rules, Split, testing::ValuesIn(samples::SPLIT_CASES),
                         samples::split_case_name);

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
