// krelt-info on real files: what krelt makes passes, each broken field is
// named, and files it cannot use are reported.
#include <algorithm>

#include "harness.h"

namespace {

using namespace e2e;

bool has_line(const Result& r, const std::string& line) {
  const auto lines = lines_of(r.out, info_line_end());
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// A Tamrisk file as krelt makes it: 100 bytes, entry 0x24, heap start
// 0x311210, memory size 0x322000.
Bytes good_v() { return with_header(worked_example(), WORKED_HEADER); }

class Info : public ScratchTest {
 protected:
  Result info(const Args& args) {
    return run_program(env("KRELT_INFO"), dir, args);
  }
};

TEST_F(Info, ListsWhatKreltMadeAndPassesIt) {
  const Bytes bim = worked_example();
  write("app.bim", bim);
  ASSERT_EQ(run({"app.bim", "app.v", "64k", "1m"}).code, 0);
  const Result r = info({"app.v"});
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(lines_of(r.out, info_line_end()),
            (std::vector<std::string>{
                "file: app.v", "format: Tamrisk application file",
                "length: 0x00000064 (100)", "memory_size: 0x00322000 (3284992)",
                "signature: MOGE", "mmarea_size: 0x00100000 (1048576)",
                "word_0c: 0x00310000 (3211264)", "word_10: 0x00001000 (4096)",
                "word_14: 0x00005000 (20480)", "jump_bytes: 00 00 00 E9",
                "entry: 0x00000024 (36)", "heap_start: 0x00311210 (3215888)",
                "result: ok"}));

  const Result b = info({"--heap", "64k", "app.bim"});
  EXPECT_EQ(b.code, 0) << b.out;
  EXPECT_TRUE(has_line(b, "format: bim image"));
  EXPECT_TRUE(has_line(b, "heap_start: 0x00311210 (3215888)"));
  EXPECT_TRUE(has_line(b, "heap_size: 0x00010000 (65536)"));
  EXPECT_TRUE(has_line(b, "memory_size: 0x00322000 (3284992)"));
}

struct BrokenField {
  const char* name;
  size_t offset;  // word to overwrite, or SIZE_MAX to grow the file
  uint32_t value;
  const char* line;  // the one failed check, or null: the file passes
};

class InfoChecks : public Info,
                   public testing::WithParamInterface<BrokenField> {};

void PrintTo(const BrokenField& c, std::ostream* os) { *os << c.name; }

TEST_P(InfoChecks, NamesTheField) {
  Bytes v = good_v();
  if (GetParam().offset == SIZE_MAX) {
    v.resize(GetParam().value, 0);
  } else {
    put_word(v, GetParam().offset, GetParam().value);
  }
  write("app.v", v);
  const Result r = info({"app.v"});
  const bool passes = GetParam().line == nullptr;
  EXPECT_EQ(r.code, passes ? 0 : 1);
  if (!passes) {
    EXPECT_TRUE(has_line(r, GetParam().line)) << r.out;
  }
  EXPECT_TRUE(has_line(r, passes ? "result: ok" : "result: failed"));
  // Exactly one check fails, or none.
  const auto lines = lines_of(r.out, info_line_end());
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.rfind("check failed:", 0) == 0;
                          }),
            passes ? 0 : 1);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, InfoChecks,
    testing::Values(
        BrokenField{"JumpOpcode", 0x18, 0xE8000000,
                    "check failed: jump_bytes: expected bytes 00 00 00 E9 at "
                    "0x18, a near jump at 0x1B"},
        BrokenField{"JumpPadding", 0x18, 0xE9000001,
                    "check failed: jump_bytes: expected bytes 00 00 00 E9 at "
                    "0x18, a near jump at 0x1B"},
        BrokenField{"MemoryNotAligned", 0x00, 0x322010,
                    "check failed: memory_size: expected a multiple of 4096"},
        BrokenField{"MemoryBelowHeap", 0x00, 0x311000,
                    "check failed: memory_size: expected at least heap_start"},
        BrokenField{"HeapNotAligned", 0x20, 0x311218,
                    "check failed: heap_start: expected a multiple of 16"},
        BrokenField{"EntryAtTheLastByte", 0x1C, 99 - 0x20, nullptr},
        BrokenField{"EntryPastEnd", 0x1C, 100 - 0x20,
                    "check failed: entry: expected an offset inside the file"},
        BrokenField{"EntryWrapped", 0x1C, 0xFFFFFF00,
                    "check failed: entry: expected an offset inside the file"},
        BrokenField{"LongestImage", SIZE_MAX, 0x3FFFFF, nullptr},
        BrokenField{"TooLong", SIZE_MAX, 0x400000,
                    "check failed: length: expected at most 4194303 bytes, as "
                    "krelt converts no larger image"}),
    [](const testing::TestParamInfo<BrokenField>& param_info) {
      return std::string(param_info.param.name);
    });

TEST_F(Info, ShortUnknownAndUnreadableFiles) {
  Bytes v = good_v();
  v.resize(20);
  write("short.v", v);
  Result r = info({"short.v"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has_line(r, "format: Tamrisk application file"));
  EXPECT_TRUE(has_line(
      r, "check failed: length: expected at least the 36 bytes of the header"));

  for (const Bytes& bytes : {Bytes{}, Bytes{'M', 'O', 'G'}, Bytes(64, 0)}) {
    write("other", bytes);
    r = info({"other"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(has_line(r, "format: unknown"));
    EXPECT_TRUE(has_line(
        r, "error: neither a Tamrisk application file nor a bim image"));
  }

  r = info({"missing.v"});
  EXPECT_EQ(r.code, 1);
  const std::string end = info_line_end();
  EXPECT_EQ(r.out,
            "file: missing.v" + end + "error: cannot open the file" + end);

  fs::create_directory(dir / "folder");
  EXPECT_EQ(info({"folder"}).code, 1);
}

TEST_F(Info, SeveralFilesAndUsage) {
  write("a.v", good_v());
  write("b.v", good_v());
  Result r = info({"a.v", "b.v"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has_line(r, "file: b.v"));
  EXPECT_TRUE(has_line(r, ""));
  r = info({"a.v", "missing", "b.v"});
  EXPECT_EQ(r.code, 1) << "one bad file fails the run";
  EXPECT_TRUE(has_line(r, "file: b.v")) << "and the rest are still listed";

  for (const Args& args : {Args{}, Args{"--heap", "64k"}}) {
    r = info(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out,
              "usage>krelt-info [--heap heap-size] file..." + info_line_end());
  }
}

}  // namespace
