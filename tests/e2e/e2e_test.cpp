// End-to-end: the real program on real files in a scratch directory.
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "end_to_end.h"

namespace {

using namespace e2e;
TEST_F(EndToEnd, ConvertsTheWorkedExample) {
  const Bytes in = worked_example();
  write("app.bim", in);
  const Result r = run({"app.bim", "app.v", "64k", "1m"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // Same length; only the 36 header bytes differ.
  EXPECT_EQ(read("app.v"), with_header(in, WORKED_HEADER));
  EXPECT_EQ(read("app.bim"), in) << "the input is never written";
}

TEST_F(EndToEnd, TooFewArgumentsPrintUsage) {
  write("app.bim", worked_example());
  write("app.v", previous);
  for (const Args& args : {Args{}, Args{"app.bim"}, Args{"app.bim", "app.v"}}) {
    expect_failure(run(args), USAGE);
    EXPECT_EQ(read("app.v"), previous);
  }
}

TEST_F(EndToEnd, MmareaIsOptionalAndLaterArgumentsAreIgnored) {
  const Bytes in = worked_example();
  write("app.bim", in);
  ASSERT_EQ(run({"app.bim", "a.v", "64k"}).code, 0);
  Bytes header = WORKED_HEADER;
  put_word(header, 8, 0);
  EXPECT_EQ(read("a.v"), with_header(in, header));

  ASSERT_EQ(run({"app.bim", "b.v", "0x10000", "0b1k", "extra", "-x"}).code, 0);
  header = WORKED_HEADER;
  put_word(header, 8, 1 << 10);
  EXPECT_EQ(read("b.v"), with_header(in, header));
}

TEST_F(EndToEnd, SizesAreNeverRejected) {
  write("app.bim", worked_example());
  // Text without a number is 0; a negative heap size wraps.
  ASSERT_EQ(run({"app.bim", "a.v", "lots", "-4k"}).code, 0);
  const Bytes out = read("a.v");
  ASSERT_GE(out.size(), 36u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4),
            (Bytes{0x00, 0x20, 0x31, 0x00}));
  EXPECT_EQ(Bytes(out.begin() + 8, out.begin() + 12),
            (Bytes{0x00, 0xF0, 0xFF, 0xFF}));
}

TEST_F(EndToEnd, EmptyArgumentCounts) {
  write("app.bim", worked_example());
  // An empty heap size is the fourth argument, so the run converts.
  ASSERT_EQ(run({"app.bim", "app.v", ""}).code, 0);
  EXPECT_EQ(read("app.v").size(), 100u);
  expect_failure(run({"", "x.v", "64k"}), READ_ERROR);
  EXPECT_FALSE(exists("x.v"));
}

TEST_F(EndToEnd, PathsWithSpaces) {
  fs::create_directory(dir / "my app");
  const Bytes in = worked_example();
  write("my app/app image.bim", in);
  ASSERT_EQ(
      run({"my app/app image.bim", "my app/out file.v", "64k", "1m"}).code, 0);
  EXPECT_EQ(read("my app/out file.v"), with_header(in, WORKED_HEADER));
}

TEST_F(EndToEnd, InPlace) {
  const Bytes in = worked_example();
  write("app.bim", in);
  const Result r = run({"app.bim", "app.bim", "64k", "1m"});
  ASSERT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(read("app.bim"), with_header(in, WORKED_HEADER));
}

TEST_F(EndToEnd, InputFailuresLeaveTheOutputAlone) {
  struct Case {
    const char* name;
    Bytes input;  // empty with no_file: the input does not exist
    bool no_file;
    std::string message;
  };
  const Case cases[] = {
      {"missing", {}, true, READ_ERROR},
      {"check word 37", image(100, 37), false, FORMAT_ERROR},
      {"empty", {}, false, FORMAT_ERROR},
      {"11 bytes", image(11), false, FORMAT_ERROR},
      {"35 bytes", image(35), false, FORMAT_ERROR},
      {"4 MiB", image(0x400000), false, READ_ERROR},
      {"over 4 MiB", image(0x400000 + 4096), false, READ_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir / "in.bim");
    if (!c.no_file) write("in.bim", c.input);
    write("kept.v", previous);
    expect_failure(run({"in.bim", "kept.v", "64k"}), c.message);
    EXPECT_EQ(read("kept.v"), previous);
    expect_failure(run({"in.bim", "new.v", "64k"}), c.message);
    EXPECT_FALSE(exists("new.v"));
  }
}

TEST_F(EndToEnd, LargestImageConverts) {
  Bytes in = image(0x3FFFFF);
  put_word(in, 0x18, 0x24);
  write("big.bim", in);
  ASSERT_EQ(run({"big.bim", "big.v", "1m"}).code, 0);
  const Bytes out = read("big.v");
  ASSERT_EQ(out.size(), in.size());
  EXPECT_TRUE(std::equal(in.begin() + 36, in.end(), out.begin() + 36));
  EXPECT_EQ(Bytes(out.begin() + 4, out.begin() + 8),
            (Bytes{'M', 'O', 'G', 'E'}));
}

TEST_F(EndToEnd, DirectoryAsInput) {
  fs::create_directory(dir / "folder.bim");
  expect_failure(run({"folder.bim", "x.v", "64k"}), READ_ERROR);
  EXPECT_FALSE(exists("x.v"));
}

TEST_F(EndToEnd, OutputThatCannotBeOpened) {
  write("app.bim", worked_example());
  expect_failure(run({"app.bim", "missing/dir/app.v", "64k"}), WRITE_ERROR);
  fs::create_directory(dir / "folder.v");
  expect_failure(run({"app.bim", "folder.v", "64k"}), WRITE_ERROR);
  EXPECT_TRUE(fs::is_directory(dir / "folder.v"));
}

// The longest name a folder holds here: Windows programs under Wine take a
// whole path of at most 259 characters, and the scratch folder is
// Z:\tmp\krelt-e2e-XXXXXX\ there.
size_t longest_name() { return is_windows_program() ? 235 : 255; }

// A write that fails (here past a file-size limit, as on a full disk)
// leaves every file as it was: the image itself when converting in place,
// also under its other name or a name as long as a name may be, and a
// previous output.
TEST_F(EndToEnd, FailedWriteKeepsEveryFile) {
  const Bytes in = image(200000);
  const std::string long_name(longest_name() - 5, 'n');
  struct Case {
    const char* name;
    Args args;
    bool previous_output;
  };
  const Case cases[] = {
      {"over a previous output", {"app.bim", "app.v", "64k"}, true},
      {"to a new output", {"app.bim", "app.v", "64k"}, false},
      {"in place", {"app.bim", "app.bim", "64k"}, false},
      {"in place, hard-linked", {"other.bim", "other.bim", "64k"}, false},
      {"in place, a long name", {long_name, long_name, "64k"}, false},
  };
  for (const bool default_sigxfsz : {false, true}) {
    // Wine itself cannot run with SIGXFSZ at its default action.
    if (default_sigxfsz && is_windows_program()) continue;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (default_sigxfsz ? ", SIGXFSZ" : ""));
      fs::remove_all(dir);
      fs::create_directory(dir);
      write("app.bim", in);
      write(long_name, in);
      fs::create_hard_link(dir / "app.bim", dir / "other.bim");
      if (c.previous_output) write("app.v", previous);
      const auto names = names_in(dir);
      expect_failure(run(c.args, {100000, default_sigxfsz}), WRITE_ERROR);
      EXPECT_EQ(names_in(dir), names) << "nothing left behind";
      EXPECT_EQ(read("app.bim"), in);
      EXPECT_EQ(read("other.bim"), in);
      EXPECT_EQ(read(long_name), in);
      EXPECT_EQ(read("app.v"), c.previous_output ? previous : Bytes());
    }
  }
}

// Names up to the limits convert, beside the output as any other, or
// written over it (made directly, when new) where no name fits beside it;
// a path past them is a write error that touches nothing, never a crash.
// Windows counts the limits in characters, Linux in bytes.
TEST_F(EndToEnd, LongOutputPaths) {
  const Bytes in = worked_example();
  const Bytes want = with_header(in, WORKED_HEADER);
  // A path within a few bytes of the limit of a whole path (4096 on Linux),
  // so that only a shortened name fits beside it; and one whose folder
  // leaves no room for a name beside it at all.
  std::string deep;
  while (deep.size() < 4064) deep += std::string(250, 'd') + "/";
  deep.resize(4064);
  deep.back() = '/';
  const std::string deeper = deep + std::string(10, 'e') + "/";
  const auto cjk = [](int characters) {
    std::string text;
    for (int i = 0; i < characters; ++i) text += "\xE6\x97\xA5";  // U+65E5
    return text;
  };
  struct Case {
    const char* name;
    std::string path;
    bool converts;
    bool posix_only;
  };
  const Case cases[] = {
      {"the longest name", std::string(longest_name(), 'n'), true, false},
      {"80 CJK characters", cjk(80), true, false},
      // Under Wine the scratch folder is Z:\tmp\krelt-e2e-XXXXXX\ (24
      // characters): 255 in all, so no name fits beside the output there.
      {"a path of 255 characters", std::string(227, 'f') + "/o.v", true, false},
      {"91 characters, 271 bytes", cjk(45) + "/" + cjk(45), true, false},
      {"near the limit of a path", deep + "o.v", true, true},
      {"no room beside it for a name", deeper + "o.v", true, true},
      {"past the limit of a path",
       [] {
         std::string p;
         for (int i = 0; i < 40000; ++i) p += "x/";
         return p + "o.v";
       }(),
       false, true},
      {"a folder past the limit of a name", std::string(300, 'f') + "/o.v",
       false, false},
  };
  // Paths past PATH_MAX from the root are reached from the scratch folder,
  // as the program reaches them.
  const auto in_dir = [&](const std::string& command) {
    return std::system(("cd '" + dir.string() + "' && " + command).c_str());
  };
  for (const Case& c : cases) {
    if (c.posix_only && is_windows_program()) continue;
    SCOPED_TRACE(c.name);
    ASSERT_EQ(in_dir("rm -rf -- *"), 0);
    write("app.bim", in);
    const size_t slash = c.path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "." : c.path.substr(0, slash);
    if (c.converts) {
      ASSERT_EQ(in_dir("mkdir -p '" + folder + "'"), 0);
    }
    for (const bool in_place : {false, true}) {
      if (in_place && !c.converts) continue;
      if (in_place) {
        ASSERT_EQ(in_dir("cp app.bim '" + c.path + "'"), 0);
      }
      const Args args = {in_place ? c.path : "app.bim", c.path, "64k", "1m"};
      if (!c.converts) {
        expect_failure(run(args), WRITE_ERROR);
        EXPECT_EQ(names_in(dir), std::set<std::string>{"app.bim"});
        continue;
      }
      const Result r = run(args);
      EXPECT_EQ(r.code, 0) << r.out;
      write("want.v", want);
      EXPECT_EQ(in_dir("cmp -s want.v '" + c.path + "'"), 0);
      // Nothing beside it: the output alone, or with the image and want.v.
      EXPECT_EQ(in_dir("test $(ls -A '" + folder + "' | wc -l) -eq " +
                       (slash == std::string::npos ? "3" : "1")),
                0);
      fs::remove(dir / "want.v");
    }
  }
  ASSERT_EQ(in_dir("rm -rf -- *"), 0);
}

// A file the program may not write is refused, as on Windows, and kept;
// root may write any file on POSIX, and then keeps its mode.
TEST_F(EndToEnd, ReadOnlyOutput) {
  const Bytes in = worked_example();
  write("app.bim", in);
  write("app.v", previous);
  fs::permissions(dir / "app.v", fs::perms(0444));
  const bool refused = is_windows_program() || geteuid() != 0;
  const Result r = run({"app.bim", "app.v", "64k", "1m"});
  if (refused) {
    expect_failure(r, WRITE_ERROR);
    EXPECT_EQ(read("app.v"), previous);
  } else {
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(read("app.v"), with_header(in, WORKED_HEADER));
  }
  EXPECT_EQ(fs::status(dir / "app.v").permissions(), fs::perms(0444));
  EXPECT_EQ(names_in(dir).size(), 2u);
}

// On Windows the replacement keeps the old file's hidden and system
// attributes (Wine keeps them in the user.DOSATTRIB extended attribute).
TEST_F(EndToEnd, WindowsAttributesAreKept) {
  if (!is_windows_program()) GTEST_SKIP() << "Windows programs only";
  write("app.bim", worked_example());
  for (const char* attributes : {"0x2", "0x4", "0x6"}) {
    SCOPED_TRACE(attributes);
    write("app.v", previous);
    const std::string path = (dir / "app.v").string();
    if (setxattr(path.c_str(), "user.DOSATTRIB", attributes,
                 std::strlen(attributes), 0) != 0) {
      GTEST_SKIP() << "no extended attributes here";
    }
    ASSERT_EQ(run({"app.bim", "app.v", "64k"}).code, 0);
    char kept[32] = {};
    EXPECT_GT(getxattr(path.c_str(), "user.DOSATTRIB", kept, sizeof kept - 1),
              0);
    EXPECT_STREQ(kept, attributes);
    EXPECT_EQ(names_in(dir).size(), 2u);
  }
}

// make -j: runs reading one image and runs writing one output, at once,
// all succeed; the last to finish wins, with a whole file.
TEST_F(EndToEnd, ParallelRunsShareTheImageAndTheOutput) {
  const Bytes in = image(300000);
  const Bytes want = converted(in, 65536);
  write("app.bim", in);
  // Under valgrind each run takes a second; Wine needs several rounds to
  // meet a rename while another run has the output open.
  const int rounds = is_windows_program()          ? 5
                     : env("KRELT_RUNNER").empty() ? 10
                                                   : 2;
  for (int round = 0; round < rounds; ++round) {
    std::vector<Args> runs;
    for (int i = 0; i < 4; ++i) {
      runs.push_back({"app.bim", "own" + std::to_string(i) + ".v", "64k"});
      runs.push_back({"app.bim", "shared.v", "64k"});
    }
    for (int code : run_together(runs)) EXPECT_EQ(code, 0);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(read("own" + std::to_string(i) + ".v"), want);
    }
    EXPECT_EQ(read("shared.v"), want);
    EXPECT_EQ(names_in(dir).size(), 6u) << "no temporary file left";
  }
}

TEST_F(EndToEnd, ClosedStandardOutputIsAFailureNotASignal) {
  RunOptions closed;
  closed.closed_stdout = true;
  EXPECT_EQ(run({"missing.bim", "x.v", "64k"}, closed).code, 1);
}

}  // namespace
