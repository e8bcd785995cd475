// krelt-info on real files: what krelt makes passes, each broken field is
// named, and every option, usage error and unusable file gives what its
// row says.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

#include "harness.h"

namespace {

using namespace e2e;

bool has_line(const Result& r, const std::string& line) {
  const auto lines = lines_of(r.out, info_line_end());
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// One run: a.v and b.v as krelt makes them from app.bim, broken.v (a.v
// with one word set or its length grown), a 20-byte short.v, 64 zero bytes
// in other and a folder are at hand; where the platform has them, q"a.v
// (a.v again), a socket and a loop of links. Exit 2 means a usage error:
// nothing on standard output, err in standard error.
struct InfoRun {
  std::string name;
  Args args;
  int code;
  // Each among the output's lines; the checks that fail are exactly those
  // named here.
  std::vector<std::string> lines;
  std::string err = "";
  bool native_only = false;   // Windows cannot name a file so
  size_t offset = 0;          // broken.v: the word to set, SIZE_MAX: the length
  uint32_t value = 0x322000;  // by default, memory_size as it is
  int out_lines = -1;         // how many lines, where that matters
};

InfoRun broken(const char* name, size_t offset, uint32_t value,
               std::vector<std::string> lines, Args before = {}) {
  const int code = lines.empty() ? 0 : 1;
  before.push_back("broken.v");
  return {name, before, code, lines, "", false, offset, value};
}

class InfoRuns : public ScratchTest,
                 public testing::WithParamInterface<InfoRun> {};

void PrintTo(const InfoRun& c, std::ostream* os) { *os << c.name; }

std::string name_of(const testing::TestParamInfo<InfoRun>& p) {
  return p.param.name;
}

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
  if (!is_windows_program()) {
    write("q\"a.v", read("a.v"));
    fs::create_symlink("loop", dir / "loop");
    sockaddr_un name = {};
    name.sun_family = AF_UNIX;
    const std::string path = (dir / "socket").string();
    path.copy(name.sun_path, sizeof name.sun_path - 1);
    const int s = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&name), sizeof name), 0);
    close(s);
  }
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
  if (c.out_lines >= 0) {
    EXPECT_EQ(lines.size(), size_t(c.out_lines)) << r.out;
  }
}

std::string failed(const std::string& field, const std::string& value,
                   const std::string& expected) {
  return "check failed: " + field + ": " + value + ", expected " + expected;
}

const std::string JUMP = "bytes 00 00 00 E9 at 0x18, a near jump at 0x1B";
const std::string ENTRY = "an offset inside the file";
const std::string HEAP_1M = failed("memory_size", "0x00322000 (3284992)",
                                   "0x00412000 (4268032): what krelt writes "
                                   "for the heap size given");
const std::string MADE = "what krelt makes of the image";
const std::string USAGE =
    "usage: krelt-info [--heap SIZE] [--mmarea SIZE] [--max-memory SIZE] "
    "[--image IMAGE] [--json] [--quiet] [--] FILE...";
const std::string NOT_A_SIZE =
    " takes a size such as 64k, 0x10000 or 1m, not '";

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
    broken("JumpOpcode", 0x18, 0xE8000000,
           {failed("jump_bytes", "00 00 00 E8", JUMP), "result: failed"}),
    broken("JumpPadding", 0x18, 0xE9000001,
           {failed("jump_bytes", "01 00 00 E9", JUMP)}),
    broken("MemoryNotAligned", 0, 0x322010, {failed("memory_size",
           "0x00322010 (3285008)", "a multiple of 4096")}),
    broken("MemoryBelowHeap", 0, 0x311000, {failed("memory_size",
           "0x00311000 (3215360)", "at least heap_start")}),
    broken("MemoryAtHeap", 0x20, 0x322000, {}),
    broken("HeapNotAligned", 0x20, 0x311218, {failed("heap_start",
           "0x00311218 (3215896)", "a multiple of 16")}),
    broken("EntryAtTheLastByte", 0x1C, 99 - 0x20, {}),
    broken("EntryPastEnd", 0x1C, 100 - 0x20,
           {failed("entry", "0x00000064 (100)", ENTRY)}),
    broken("EntryWrapped", 0x1C, 0xFFFFFF00,
           {failed("entry", "0xFFFFFF20 (4294967072)", ENTRY)}),
    broken("LongestImage", SIZE_MAX, 0x3FFFFF, {}),
    broken("TooLong", SIZE_MAX, 0x400000, {failed("length", "0x00400000 "
           "(4194304)", "at most 4194303 bytes, as krelt converts no larger "
           "image")}),
    // Against the image: every byte krelt makes of it, and the command
    // that remakes the file (tried by InfoCommand).
    InfoRun{"Image", {"--image", "app.bim", "--heap=64k", "a.v"}, 0,
        {"heap_sizes: 0x0000FDF1 (65009) to 0x00010DF0 (69104)",
         "command: krelt app.bim a.v 64k 1m", "result: ok"}},
    broken("ImageMovedWord", 0x0C, 0x310001, {failed("word_14",
           "0x00310001 (3211265)", "0x00310000 (3211264): " + MADE)},
           {"--image=app.bim"}),
    broken("ImageEntry", 0x1C, 0x8, {failed("entry", "0x00000028 (40)",
           "0x00000024 (36): " + MADE)}, {"--image=app.bim"}),
    broken("ImageHeapStart", 0x20, 0x311200, {failed("heap_start",
           "0x00311200 (3215872)", "0x00311210 (3215888): " + MADE)},
           {"--image=app.bim"}),
    broken("ImageBody", 0x40, 0x12345678, {failed("body",
           "first differs at 0x00000040 (64)",
           "the image's bytes after the header")}, {"--image=app.bim"}),
    broken("ImageLength", SIZE_MAX, 101, {failed("length",
           "0x00000065 (101)", "0x00000064 (100): " + MADE)},
           {"--image=app.bim"}),
    broken("ImageNoHeapGivesIt", 0, 0x322010, {failed("memory_size",
           "0x00322010 (3285008)", "a multiple of 4096"),
           "heap_sizes: none"}, {"--image=app.bim"}),
    InfoRun{"ImageNotABim", {"--image", "other", "a.v"}, 1, {}, "krelt-info: "
        "image 'other': not a bim image: 0x00000000 at 0x04, 0x00000000 at "
        "0x08"},
    InfoRun{"ImageMissing", {"a.v", "--image"}, 2, {},
        "krelt-info: an image must follow '--image'"},
    InfoRun{"MaxMemory", {"--max-memory", "0x322000", "a.v"}, 0,
        {"result: ok"}},
    InfoRun{"MaxMemoryFails", {"--max-memory=3m", "a.v"}, 1,
        {failed("memory_size", "0x00322000 (3284992)", "0x00300000 "
         "(3145728): the memory budget given, or less")}},
    InfoRun{"MaxMemoryOfABim", {"--heap=2m", "--max-memory=4m", "app.bim"}, 1,
        {failed("memory_size", "0x00512000 (5316608)", "0x00400000 "
         "(4194304): the memory budget given, or less")}},
    InfoRun{"Help", {"a.v", "--help"}, 0, {USAGE}},
    InfoRun{"Version", {"--version", "a.v"}, 0, {"krelt-info (krelt) 1.0.0",
        "Copyright (C) 2026 The krelt developers",
        "License MIT: <https://opensource.org/licenses/MIT>."}},
    InfoRun{"HeapAfterTheFile", {"a.v", "--heap", "64k"}, 0, {"result: ok"}},
    InfoRun{"HeapFails", {"--heap=1m", "a.v"}, 1, {HEAP_1M, "result: failed"}},
    InfoRun{"Mmarea", {"--mmarea=0x100000", "a.v"}, 0, {"result: ok"}},
    InfoRun{"MmareaFails", {"--mmarea", "64k", "a.v"}, 1, {failed(
        "mmarea_size", "0x00100000 (1048576)", "0x00010000 (65536): the "
        "mmarea size given")}},
    InfoRun{"SeveralNameTheirFile", {"--heap", "1m", "a.v", "b.v"}, 1,
        {"a.v: " + HEAP_1M, "b.v: " + HEAP_1M, "", "2 files: 0 ok, 2 failed"}},
    InfoRun{"OneBadFailsTheRun", {"a.v", "missing", "b.v"}, 1,
        {"missing: error: no such file", "file: b.v", "result: ok",
         "3 files: 2 ok, 1 failed"}},
    InfoRun{"Quiet", {"--quiet", "--heap", "1m", "a.v", "missing", "app.bim"},
        1, {"a.v: " + HEAP_1M, "missing: error: no such file",
            "3 files: 1 ok, 2 failed"}, "", false, 0, 0, 3},
    InfoRun{"QuietJsonOnlyFailures", {"--json", "--quiet", "a.v", "missing"},
        1, {"{\"file\":\"missing\",\"error\":\"no such file\",\"result\":"
            "\"failed\"}"}, "", false, 0, 0, 1},
    InfoRun{"DashDashEndsOptions", {"--", "--heap"}, 1,
        {"file: --heap", "error: no such file"}},
    InfoRun{"DashIsStandardInput", {"-"}, 1, {"file: -", "format: unknown",
        "error: neither a Tamrisk application file nor a bim image: the file "
        "ends at 0x00"}},
    InfoRun{"NoSuchFolder", {"none/a.v"}, 1, {"error: no such file"}},
    InfoRun{"Folder", {"folder"}, 1, {"error: is a folder"}},
    InfoRun{"Short", {"short.v"}, 1, {"format: Tamrisk application file",
        failed("length", "0x00000014 (20)",
               "at least the 36 bytes of the header")}},
    InfoRun{"Unknown", {"other"}, 1, {"format: unknown", "error: neither a "
        "Tamrisk application file nor a bim image: 0x00000000 at 0x04, "
        "0x00000000 at 0x08"}},
    InfoRun{"Bim", {"--heap", "64k", "app.bim"}, 0, {"format: bim image",
        "heap_start: 0x00311210 (3215888)", "heap_size: 0x00010000 (65536)",
        "memory_size: 0x00322000 (3284992)"}},
    // A check holds what the file holds, then what it should.
    InfoRun{"Json", {"--json", "--heap", "2m", "--max-memory=4m", "app.bim",
        "folder"}, 1, {
        "{\"file\":\"app.bim\",\"format\":\"bim image\",\"length\":100,"
        "\"fields\":{\"word_0c\":4096,\"word_10\":20480,\"word_14\":3211264,"
        "\"entry\":36,\"word_1c\":520,\"heap_start\":3215888,\"heap_size\":"
        "2097152,\"memory_size\":5316608},\"checks\":[{\"field\":\"entry\","
        "\"value\":36,\"expected\":\"an offset inside the file\",\"rule\":"
        "\"an offset inside the file\",\"passed\":true},{\"field\":\"length"
        "\",\"value\":100,\"expected\":\"at most 4194303 bytes, as krelt "
        "converts no larger image\",\"rule\":\"at most 4194303 bytes, as "
        "krelt converts no larger image\",\"passed\":true},{\"field\":"
        "\"memory_size\",\"value\":5316608,\"expected\":4194304,\"rule\":"
        "\"the memory budget given, or less\",\"passed\":false}],\"result\":"
        "\"failed\"}",
        "{\"file\":\"folder\",\"error\":\"is a folder\",\"result\":"
        "\"failed\"}"}},
    InfoRun{"JsonOfAnyName", {"--json", "a\x01\\\xff\xe2\x82\xac"}, 1,
        {"{\"file\":\"a\\u0001\\u005C\\ufffd\xe2\x82\xac\",\"error\":\"no such "
         "file\",\"result\":\"failed\"}"}, "", true},
    InfoRun{"NoFile", {"--heap", "64k"}, 2, {}, USAGE},
    InfoRun{"BareHeap", {"a.v", "--heap"}, 2, {},
        "krelt-info: a size must follow '--heap'"},
    InfoRun{"UnknownOption", {"--hep=1", "a.v"}, 2, {},
        "krelt-info: unknown option '--hep=1'"},
    // Every other text of sizes: SizeGrammar below.
    InfoRun{"NotAHeap", {"--heap", "1.5m", "a.v"}, 2, {},
        "krelt-info: --heap" + NOT_A_SIZE + "1.5m'"},
    InfoRun{"NotAnMmarea", {"a.v", "--mmarea=abc"}, 2, {},
        "krelt-info: --mmarea" + NOT_A_SIZE + "abc'"},
    InfoRun{"NotAMemoryBudget", {"--max-memory", "64kb", "a.v"}, 2, {},
        "krelt-info: --max-memory" + NOT_A_SIZE + "64kb'"},
    // Arguments as given: any name passes, and every reason is one listed.
    InfoRun{"QuoteInAName", {"a.v", "q\"a.v"}, 0,
        {"file: q\"a.v", "2 files: 2 ok, 0 failed"}, "", true},
    InfoRun{"Socket", {"socket"}, 1, {"error: is a socket"}, "", true},
    InfoRun{"LoopOfLinks", {"loop"}, 1, {"error: a loop of links"}, "", true}),
    name_of);
// clang-format on

// The size options take exactly the texts the shared table accepts, as
// krelt reads them, and refuse the rest: each row a run of --heap.
std::vector<InfoRun> size_grammar() {
  std::ifstream table(KRELT_SIZE_GRAMMAR);
  EXPECT_TRUE(table.is_open()) << KRELT_SIZE_GRAMMAR;
  std::vector<InfoRun> runs;
  for (std::string row; std::getline(table, row);) {
    const size_t bar = row.find('|'), last = row.rfind('|');
    if (row.empty() || row[0] == '#' || bar == last) continue;
    const std::string verdict = row.substr(0, bar);
    const std::string text = row.substr(bar + 1, last - bar - 1);
    const bool ok = verdict == "ok";
    if (!ok && verdict != "bad") continue;  // the heading
    const unsigned long long value = std::stoull(row.substr(last + 1));
    char line[64];
    std::snprintf(line, sizeof line, "heap_size: 0x%08llX (%llu)", value,
                  value);
    runs.push_back(
        {verdict + std::to_string(runs.size()),
         {"--heap=" + text, "app.bim"},
         ok ? 0 : 2,
         ok ? std::vector<std::string>{line} : std::vector<std::string>{},
         ok ? "" : "krelt-info: --heap" + NOT_A_SIZE + text + "'"});
  }
  EXPECT_GT(runs.size(), 40u);
  return runs;
}

INSTANTIATE_TEST_SUITE_P(SizeGrammar, InfoRuns,
                         testing::ValuesIn(size_grammar()), name_of);

// The command krelt-info gives for a file remakes it byte for byte: krelt
// run with its words (a name with a space quoted) writes the very same
// file, though the heap size it was made with is not the one named.
using InfoCommand = ScratchTest;

TEST_F(InfoCommand, RemakesTheFile) {
  write("my app.bim", worked_example());
  ASSERT_EQ(run({"my app.bim", "a.v", "65100", "1m"}).code, 0);
  const Bytes made = read("a.v");
  const std::string info = env("KRELT_INFO");
  const Result r = run_program(info, dir, {"--image", "my app.bim", "a.v"});
  std::string command;
  for (const std::string& line : lines_of(r.out, info_line_end())) {
    if (line.rfind("command: ", 0) == 0) command = line.substr(9);
  }
  ASSERT_EQ(command, "krelt \"my app.bim\" a.v 64k 1m") << r.out;
  const Result json =
      run_program(info, dir, {"--json", "--image", "my app.bim", "a.v"});
  EXPECT_NE(json.out.find("\"heap_sizes\":[[65009,69104]],\"command\":"
                          "\"krelt \\u0022my app.bim\\u0022 a.v 64k 1m\""),
            std::string::npos)
      << json.out;
  fs::remove(dir / "a.v");
  ASSERT_EQ(run({"my app.bim", "a.v", "64k", "1m"}).code, 0);
  EXPECT_EQ(read("a.v"), made);
}

}  // namespace
