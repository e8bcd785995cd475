// How a raw command line splits into arguments: the table the unit test of
// split_command_line and the Windows test of the real GetCommandLineA
// share.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace samples {

struct SplitCase {
  const char* name;
  std::string line;
  std::vector<std::string> args;
};

inline void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.name; }

inline const std::vector<SplitCase> SPLIT_CASES = {
    {"FourWords", "krelt a.bim a.v 64k", {"krelt", "a.bim", "a.v", "64k"}},
    {"QuotedProgramPath",
     "\"C:\\Program Files\\Tamrisk\\krelt.exe\" in.bim",
     {"C:\\Program Files\\Tamrisk\\krelt.exe", "in.bim"}},
    {"TabSeparates", "a\tb", {"a", "b"}},
    {"ControlBytesSeparate",
     "a\x01"
     "b\x1f"
     "c\x0d\x0a"
     "d",
     {"a", "b", "c", "d"}},
    {"HighBytesAreOrdinary", "\x7f\x80 \xff", {"\x7f\x80", "\xff"}},
    {"EmptyQuotesCount", "a \"\" b", {"a", "", "b"}},
    {"EmptyQuotesAtEnd", "a \"\"", {"a", ""}},
    {"UnclosedQuoteTakesTheRest", "a \"b  c\t ", {"a", "b  c\t "}},
    {"QuotingMidArgument", "a\"b c\"d", {"ab cd"}},
    {"BackslashIsOrdinary", "a\\\" b\\", {"a\\ b\\"}},
    {"RunsOfSeparators", "  a \t  b   ", {"a", "b"}},
    {"EmptyLine", "", {""}},
    {"SeparatorsOnly", " \t ", {""}},
    {"OnlyEmptyQuotes", "\"\"", {""}},
    {"QuoteRunsIntoNextWord", "\"a\"b \"c\"", {"ab", "c"}},
};

inline std::string split_case_name(
    const testing::TestParamInfo<SplitCase>& param_info) {
  return param_info.param.name;
}

}  // namespace samples
