// End-to-end cases only the POSIX build meets: symbolic links and
// permissions, devices as outputs, readers and signals.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <random>
#include <thread>

#include "end_to_end.h"

namespace {

using namespace e2e;

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
  // Kills land anywhere in a run, however long a run takes here (qemu and
  // valgrind start slowly): up to one and a half clean runs in.
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(run({"app.bim", "app.v", "64k"}).code, 0);
  const auto clean_us = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
  std::uniform_int_distribution<long> delay(0, clean_us * 3 / 2);
  const int signals[] = {SIGTERM, SIGINT, SIGHUP};
  int killed = 0;
  for (int i = 0; i < runs; ++i) {
    write("app.v", previous);
    const int sig = signals[i % 3];
    const pid_t pid =
        start_program(env("KRELT_PROGRAM"), dir, {"app.bim", "app.v", "64k"});
    usleep(static_cast<useconds_t>(delay(random)));
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

// Where nothing can be created beside the output (a folder the user may
// not write, holding an output they may), the output is written directly.
TEST_F(PosixOnly, OutputInAFolderNobodyMayWriteIsWrittenDirectly) {
  if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root and setpriv (util-linux) to run as nobody";
  }
  const uid_t nobody = 65534;
  fs::permissions(dir, fs::perms(0755));
  fs::create_directory(dir / "locked");
  const Bytes in = worked_example();
  write("locked/app.bim", in);
  write("locked/app.v", previous);
  ASSERT_EQ(chown((dir / "locked/app.v").c_str(), nobody, nobody), 0);
  fs::permissions(dir / "locked", fs::perms(0755));

  const std::string runner = env("KRELT_RUNNER");
  setenv(
      "KRELT_RUNNER",
      ("/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " + runner)
          .c_str(),
      1);
  const Result r = run({"locked/app.bim", "locked/app.v", "64k", "1m"});
  setenv("KRELT_RUNNER", runner.c_str(), 1);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(read("locked/app.v"), with_header(in, WORKED_HEADER));
  EXPECT_EQ(names_in(dir / "locked").size(), 2u);
}

// krelt-info reads what krelt reads: a FIFO, a /proc file, and reports a
// file past the image limit as too large, with its length where the file
// system knows it.
TEST_F(PosixOnly, InfoReadsAnyReadableInput) {
  const Bytes v = with_header(worked_example(), WORKED_HEADER);
  const auto info = [&](const std::string& path) {
    return lines_of(run_program(env("KRELT_INFO"), dir, {path}).out);
  };
  const auto has = [](const std::vector<std::string>& lines,
                      const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  const std::string too_large =
      "check failed: length: expected at most 4194303 bytes, as krelt "
      "converts no larger image";
  struct Case {
    const char* name;
    size_t bytes;  // fed through a FIFO: v, then zeros up to this length
    const char* length_line;
  };
  const Case fifo_cases[] = {
      {"whole", v.size(), "length: 0x00000064 (100)"},
      {"too large", 0x500000, "length: more than 0x003FFFFF (4194303)"},
  };
  signal(SIGPIPE, SIG_IGN);  // krelt-info stops reading a file too large
  for (const Case& c : fifo_cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::thread writer([&] {
      const int fd = open((dir / "fifo").c_str(), O_WRONLY);
      Bytes all = v;
      all.resize(c.bytes, 0);
      for (size_t at = 0; at < all.size();) {
        const ssize_t n = ::write(fd, all.data() + at, all.size() - at);
        if (n <= 0) break;
        at += static_cast<size_t>(n);
      }
      close(fd);
    });
    const auto lines = info("fifo");
    writer.join();
    EXPECT_TRUE(has(lines, c.length_line)) << lines.size();
    EXPECT_EQ(has(lines, "result: ok"), c.bytes == v.size());
    EXPECT_EQ(has(lines, too_large), c.bytes != v.size());
    fs::remove(dir / "fifo");
  }

  const auto proc = info("/proc/self/status");
  EXPECT_TRUE(has(proc, "format: unknown"));
  EXPECT_FALSE(has(proc, "error: cannot read the file"));

  // 5 GiB, sparse: the entry is inside, only the length fails.
  write("huge.v", v);
  fs::resize_file(dir / "huge.v", 5ull << 30);
  const auto huge = info("huge.v");
  EXPECT_TRUE(has(huge, "length: 0x0000000140000000 (5368709120)"));
  EXPECT_TRUE(has(huge, too_large));
  EXPECT_TRUE(has(huge, "result: failed"));
  EXPECT_EQ(std::count_if(huge.begin(), huge.end(),
                          [](const std::string& l) {
                            return l.rfind("check failed:", 0) == 0;
                          }),
            1);
}

}  // namespace
