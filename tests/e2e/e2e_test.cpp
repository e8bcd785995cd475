// End-to-end: the real program on real files in a scratch directory.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <iostream>
#include <random>
#include <thread>

#include "harness.h"

namespace {

using namespace e2e;

const char USAGE[] =
    "usage>krelt appname.bim appname.v heap-size [mmarea-size]\r\n";
const char READ_ERROR[] = "bim file read error\r\n";
const char FORMAT_ERROR[] = "bim file format error\r\n";
const char WRITE_ERROR[] = "Tamrisk file write error\r\n";

Bytes image(size_t size, uint32_t check_b = 36) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i)
    b[i] = static_cast<unsigned char>(i * 29 + 5);
  if (size >= 12) {
    put_word(b, 4, 36);
    put_word(b, 8, check_b);
  }
  return b;
}

// The header the worked example must become.
const Bytes WORKED_HEADER = {
    0x00, 0x20, 0x32, 0x00, 0x4D, 0x4F, 0x47, 0x45, 0x00, 0x00, 0x10, 0x00,
    0x00, 0x00, 0x31, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x50, 0x00, 0x00,
    0x00, 0x00, 0x00, 0xE9, 0x04, 0x00, 0x00, 0x00, 0x10, 0x12, 0x31, 0x00};

Bytes with_header(Bytes b, const Bytes& header) {
  std::copy(header.begin(), header.end(), b.begin());
  return b;
}

class EndToEnd : public ScratchTest {
 protected:
  // A failed run: its one message, exit 1, nothing on standard error.
  void expect_failure(const Result& r, const char* message) {
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.out, message);
    EXPECT_EQ(r.err, "");
  }

  // The image converted with `krelt app.bim OUT heap`.
  Bytes converted(const Bytes& in, uint32_t heap) {
    write("ref.bim", in);
    EXPECT_EQ(run({"ref.bim", "ref.v", std::to_string(heap)}).code, 0);
    Bytes out = read("ref.v");
    fs::remove(dir / "ref.bim");
    fs::remove(dir / "ref.v");
    return out;
  }

  // Runs `krelt ARGS...` in count processes at once; their exit codes.
  std::vector<int> run_together(const std::vector<Args>& runs) {
    std::vector<pid_t> pids;
    for (const Args& args : runs) {
      pids.push_back(start_program(env("KRELT_PROGRAM"), dir, args));
    }
    std::vector<int> codes;
    for (pid_t pid : pids) codes.push_back(wait_program(pid));
    return codes;
  }

  const Bytes previous = {'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'};
};

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
    const char* message;
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

// A write that fails (here past a file-size limit, as on a full disk)
// leaves every file as it was: the image itself when converting in place,
// also under its other name, and a previous output.
TEST_F(EndToEnd, FailedWriteKeepsEveryFile) {
  const Bytes in = image(200000);
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
  };
  for (const bool default_sigxfsz : {false, true}) {
    // Wine itself cannot run with SIGXFSZ at its default action.
    if (default_sigxfsz && is_windows_program()) continue;
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (default_sigxfsz ? ", SIGXFSZ" : ""));
      fs::remove_all(dir);
      fs::create_directory(dir);
      write("app.bim", in);
      fs::create_hard_link(dir / "app.bim", dir / "other.bim");
      if (c.previous_output) write("app.v", previous);
      const auto names = names_in(dir);
      expect_failure(run(c.args, {100000, default_sigxfsz}), WRITE_ERROR);
      EXPECT_EQ(names_in(dir), names) << "nothing left behind";
      EXPECT_EQ(read("app.bim"), in);
      EXPECT_EQ(read("other.bim"), in);
      EXPECT_EQ(read("app.v"), c.previous_output ? previous : Bytes());
    }
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

// Only the POSIX build meets these.
using PosixOnly = EndToEnd;

TEST_F(PosixOnly, LinkedOutputKeepsTheLinkAndPermissions) {
  const Bytes in = image(200000);
  write("app.bim", in);
  const Bytes want = converted(in, 65536);
  fs::create_directory(dir / "real");
  write("real/app.v", previous);
  fs::permissions(dir / "real/app.v", fs::perms(0640));
  fs::create_symlink("real/app.v", dir / "app.v");

  // A failure leaves the link and its target alone, and nothing beside
  // either.
  expect_failure(run({"app.bim", "app.v", "64k"}, {100000}), WRITE_ERROR);
  EXPECT_TRUE(fs::is_symlink(dir / "app.v"));
  EXPECT_EQ(read("real/app.v"), previous);
  EXPECT_EQ(names_in(dir / "real").size(), 1u);

  ASSERT_EQ(run({"app.bim", "app.v", "64k"}).code, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "app.v"));
  EXPECT_EQ(read("real/app.v"), want);
  EXPECT_EQ(fs::status(dir / "real/app.v").permissions(), fs::perms(0640));
  EXPECT_EQ(names_in(dir).size(), 3u);
  EXPECT_EQ(names_in(dir / "real").size(), 1u);

  // A new file gets 0666 less the umask.
  const mode_t old_mask = umask(027);
  ASSERT_EQ(run({"app.bim", "new.v", "64k"}).code, 0);
  umask(old_mask);
  EXPECT_EQ(fs::status(dir / "new.v").permissions(), fs::perms(0640));
}

TEST_F(PosixOnly, DevicesAreWrittenDirectly) {
  const Bytes in = worked_example();
  write("app.bim", in);
  for (const char* device : {"/dev/null", "/dev/full"}) {
    const Result r = run({"app.bim", device, "64k"});
    EXPECT_EQ(r.code, device[5] == 'n' ? 0 : 1) << device;
    struct stat st;
    ASSERT_EQ(stat(device, &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << device << " is still a device";
  }
  // Standard output is a pipe here: the image arrives through it.
  const Result r = run({"app.bim", "/dev/stdout", "64k", "1m"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), with_header(in, WORKED_HEADER));
  EXPECT_EQ(names_in(dir).size(), 1u);
}

// A reader polling the output sees the old file or the new one, whole.
TEST_F(PosixOnly, ReaderNeverSeesAPartialOutput) {
  const Bytes in = image(1 << 20);
  const Bytes small = converted(in, 65536), large = converted(in, 131072);
  write("app.bim", in);
  write("app.v", small);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread reader([&] {
    while (!done) {
      const Bytes seen = read("app.v");
      ++reads;
      if (seen != small && seen != large) ++bad;
    }
  });
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(run({"app.bim", "app.v", i % 2 ? "64k" : "128k"}).code, 0);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
}

// Killed at a random moment, a run leaves the old output or the new one,
// and nothing else, and dies of the signal it got.
TEST_F(PosixOnly, KilledRunsLeaveTheOldOutputOrTheNew) {
  Bytes in = image(0x3FFFFF);
  put_word(in, 0x18, 0x24);
  const Bytes want = converted(in, 65536);
  write("app.bim", in);
  std::mt19937 random(12345);
  const int runs = env("KRELT_RUNNER").empty() ? 60 : 12;
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  int killed = 0;
  for (int i = 0; i < runs; ++i) {
    write("app.v", previous);
    const int sig = signals[i % 3];
    const pid_t pid =
        start_program(env("KRELT_PROGRAM"), dir, {"app.bim", "app.v", "64k"});
    usleep(std::uniform_int_distribution<int>(0, 8000)(random));
    kill(pid, sig);
    const int code = wait_program(pid);
    SCOPED_TRACE("run " + std::to_string(i) + ", exit " + std::to_string(code));
    EXPECT_TRUE(code == 0 || code == 128 + sig);
    killed += code == 128 + sig;
    const Bytes out = read("app.v");
    EXPECT_TRUE(out == previous || out == want);
    EXPECT_EQ(names_in(dir).size(), 2u) << "nothing left behind";
  }
  std::cout << "[ killed   ] " << killed << " of " << runs << " runs\n";
}

// Only the POSIX build meets these.
using PosixOnly = EndToEnd;

TEST_F(PosixOnly, DoubleQuoteInAnArgumentIsRefused) {
  write("app.bim", worked_example());
  const Result r = run({"app.bim", "a\"b.v", "64k"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.out,
      "argument error: a double quote cannot be passed in an argument\r\n");
  EXPECT_FALSE(exists("a\"b.v"));
  EXPECT_FALSE(exists("ab.v"));
}

}  // namespace
