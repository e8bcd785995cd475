// krelt-info on real files: what krelt makes passes, each broken field is
// named, and every option, usage error and unusable file gives what its
// row says.
#include <algorithm>

#include "harness.h"

namespace {

using namespace e2e;

bool has_line(const Result& r, const std::string& line) {
  const auto lines = lines_of(r.out, info_line_end());
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// One run: a.v and b.v as krelt makes them, broken.v (a.v with one word
// set or its length grown), app.bim, a 20-byte short.v, 64 zero bytes in
// other and a folder are at hand. Exit 2 means a usage error: nothing on
// standard output, err in standard error.
struct InfoRun {
  const char* name;
  Args args;
  int code;
  // Each among the output's lines; the checks that fail are exactly those
  // named here.
  std::vector<std::string> lines;
  std::string err = "";
  bool native_only = false;   // Windows cannot name a file so
  size_t offset = 0;          // broken.v: the word to set, SIZE_MAX: the length
  uint32_t value = 0x322000;  // by default, memory_size as it is
};

InfoRun broken(const char* name, size_t offset, uint32_t value,
               std::vector<std::string> lines) {
  const int code = lines.empty() ? 0 : 1;
  return {name, {"broken.v"}, code, lines, "", false, offset, value};
}

class InfoRuns : public ScratchTest,
                 public testing::WithParamInterface<InfoRun> {};

void PrintTo(const InfoRun& c, std::ostream* os) { *os << c.name; }

TEST_P(InfoRuns, GivesWhatTheRowSays) {
  const InfoRun& c = GetParam();
  if (c.native_only && is_windows_program()) GTEST_SKIP();
  // A Tamrisk file as krelt makes it: 100 bytes, entry 0x24, heap start
  // 0x311210, memory size 0x322000, mmarea size 1m.
  Bytes v = with_header(worked_example(), WORKED_HEADER);
  write("a.v", v);
  write("b.v", v);
  write("short.v", Bytes(v.begin(), v.begin() + 20));
  if (c.offset == SIZE_MAX) {
    v.resize(c.value, 0);
  } else {
    put_word(v, c.offset, c.value);
  }
  write("broken.v", v);
  write("app.bim", worked_example());
  write("other", Bytes(64, 0));
  fs::create_directory(dir / "folder");
  const Result r = run_program(env("KRELT_INFO"), dir, c.args);
  EXPECT_EQ(r.code, c.code) << r.out << r.err;
  for (const std::string& line : c.lines) {
    EXPECT_TRUE(has_line(r, line)) << r.out;
  }
  const auto failed = [](const std::string& l) {
    return l.find("check failed:") != std::string::npos;
  };
  const auto lines = lines_of(r.out, info_line_end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(), failed),
            std::count_if(c.lines.begin(), c.lines.end(), failed));
  EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
  EXPECT_TRUE(c.code != 2 || r.out.empty()) << r.out;
}

const std::string JUMP =
    "check failed: jump_bytes: expected bytes 00 00 00 "
    "E9 at 0x18, a near jump at 0x1B";
const std::string ENTRY =
    "check failed: entry: expected an offset inside the file";
const std::string HEAP_1M =
    "check failed: memory_size: expected 0x00412000 "
    "(4268032), what krelt writes for the heap size given";
const std::string USAGE =
    "usage: krelt-info [--heap SIZE] [--mmarea SIZE] [--json] [--] FILE...";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Options, InfoRuns, testing::Values(
    // The words krelt moves keep their bim names (bim word_14 is at 0x0C).
    InfoRun{"Listing", {"a.v"}, 0, {"file: a.v",
        "format: Tamrisk application file",
        "length: 0x00000064 (100)", "memory_size: 0x00322000 (3284992)",
        "signature: MOGE", "mmarea_size: 0x00100000 (1048576)",
        "word_14: 0x00310000 (3211264)", "word_0c: 0x00001000 (4096)",
        "word_10: 0x00005000 (20480)", "jump_bytes: 00 00 00 E9",
        "entry: 0x00000024 (36)", "heap_start: 0x00311210 (3215888)",
        "result: ok"}},
    broken("JumpOpcode", 0x18, 0xE8000000, {JUMP, "result: failed"}),
    broken("JumpPadding", 0x18, 0xE9000001, {JUMP}),
    broken("MemoryNotAligned", 0, 0x322010,
           {"check failed: memory_size: expected a multiple of 4096"}),
    broken("MemoryBelowHeap", 0, 0x311000,
           {"check failed: memory_size: expected at least heap_start"}),
    broken("MemoryAtHeap", 0x20, 0x322000, {}),
    broken("HeapNotAligned", 0x20, 0x311218,
           {"check failed: heap_start: expected a multiple of 16"}),
    broken("EntryAtTheLastByte", 0x1C, 99 - 0x20, {}),
    broken("EntryPastEnd", 0x1C, 100 - 0x20, {ENTRY}),
    broken("EntryWrapped", 0x1C, 0xFFFFFF00, {ENTRY}),
    broken("LongestImage", SIZE_MAX, 0x3FFFFF, {}),
    broken("TooLong", SIZE_MAX, 0x400000, {"check failed: length: expected "
           "at most 4194303 bytes, as krelt converts no larger image"}),
    InfoRun{"Help", {"a.v", "--help"}, 0, {USAGE}},
    InfoRun{"Version", {"--version", "a.v"}, 0, {"krelt-info 1.0.0"}},
    InfoRun{"HeapAfterTheFile", {"a.v", "--heap", "64k"}, 0, {"result: ok"}},
    InfoRun{"HeapFails", {"--heap=1m", "a.v"}, 1, {HEAP_1M, "result: failed"}},
    InfoRun{"Mmarea", {"--mmarea=0x100000", "a.v"}, 0, {"result: ok"}},
    InfoRun{"MmareaFails", {"--mmarea", "64k", "a.v"}, 1, {"check failed: "
        "mmarea_size: expected 0x00010000 (65536), the mmarea size given"}},
    InfoRun{"SeveralNameTheirFile", {"--heap", "1m", "a.v", "b.v"}, 1,
        {"a.v: " + HEAP_1M, "b.v: " + HEAP_1M, ""}},
    InfoRun{"OneBadFailsTheRun", {"a.v", "missing", "b.v"}, 1,
        {"missing: error: no such file", "file: b.v", "result: ok"}},
    InfoRun{"DashDashEndsOptions", {"--", "--heap"}, 1,
        {"file: --heap", "error: no such file"}},
    InfoRun{"DashIsStandardInput", {"-"}, 1, {"file: -", "format: unknown"}},
    InfoRun{"NoSuchFolder", {"none/a.v"}, 1, {"error: no such file"}},
    InfoRun{"Folder", {"folder"}, 1, {"error: is a folder"}},
    InfoRun{"Short", {"short.v"}, 1, {"format: Tamrisk application file",
        "check failed: length: expected at least the 36 bytes of the header"}},
    InfoRun{"Unknown", {"other"}, 1, {"format: unknown",
        "error: neither a Tamrisk application file nor a bim image"}},
    InfoRun{"Bim", {"--heap", "64k", "app.bim"}, 0, {"format: bim image",
        "heap_start: 0x00311210 (3215888)", "heap_size: 0x00010000 (65536)",
        "memory_size: 0x00322000 (3284992)"}},
    InfoRun{"Json", {"--json", "--heap", "64k", "app.bim", "folder"}, 1, {
        "{\"file\":\"app.bim\",\"format\":\"bim image\",\"length\":100,"
        "\"fields\":{\"word_0c\":4096,\"word_10\":20480,\"word_14\":3211264,"
        "\"entry\":36,\"word_1c\":520,\"heap_start\":3215888,\"heap_size\":"
        "65536,\"memory_size\":3284992},\"checks\":[{\"field\":\"entry\","
        "\"expected\":\"an offset inside the file\",\"passed\":true},{\"field"
        "\":\"length\",\"expected\":\"at most 4194303 bytes, as krelt converts"
        " no larger image\",\"passed\":true}],\"result\":\"ok\"}",
        "{\"file\":\"folder\",\"error\":\"is a folder\",\"result\":"
        "\"failed\"}"}},
    InfoRun{"JsonOfAnyName", {"--json", "a\x01\\\xff\xe2\x82\xac"}, 1,
        {"{\"file\":\"a\\u0001\\u005C\\ufffd\xe2\x82\xac\",\"error\":\"no such "
         "file\",\"result\":\"failed\"}"}, "", true},
    InfoRun{"NoFile", {"--heap", "64k"}, 2, {}, USAGE},
    InfoRun{"BareHeap", {"a.v", "--heap"}, 2, {},
        "krelt-info: a size must follow '--heap'"},
    InfoRun{"UnknownOption", {"--hep=1", "a.v"}, 2, {},
        "krelt-info: unknown option '--hep=1'"}),
    [](const testing::TestParamInfo<InfoRun>& p) {
      return std::string(p.param.name);
    });
// clang-format on

}  // namespace
