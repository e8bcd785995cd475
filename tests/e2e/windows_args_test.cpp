// What only the real Windows platform shows: the runtime splitting the
// command line that GetCommandLineA really returns, including lines that
// no argv quoting can make (they are started through the spawn helper).
#include <signal.h>
#include <unistd.h>

#include <iostream>
#include <random>
#include <set>
#include <sstream>

#include "harness.h"
#include "tests/common/split_cases.h"

namespace {

using namespace e2e;

class WindowsCommandLine : public ScratchTest {
 protected:
  void SetUp() override {
    ScratchTest::SetUp();
    fs::copy_file(env("KRELT_PRINT_ARGS"), dir / "print_args.exe");
    fs::copy_file(env("KRELT_PROGRAM"), dir / "krelt.exe");
  }
  // Starts program (in the scratch directory) with exactly this raw line.
  Result spawn(const std::string& program, const std::string& line) {
    write_text("line.txt", line);
    return run_program(env("KRELT_SPAWN"), dir, {program, "line.txt"});
  }
};

TEST_F(WindowsCommandLine, ArgumentsPassedThroughWine) {
  const Result r = run_program((dir / "print_args.exe").string(), dir,
                               {"a b", "", "x\ty", "c:\\dir\\f", "tail"});
  ASSERT_EQ(r.code, 0);
  std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 8u) << r.out;
  EXPECT_EQ(lines[0], "6");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
            (std::vector<std::string>{"[a b]", "[]", "[x\ty]", "[c:\\dir\\f]",
                                      "[tail]", "(null)"}));
}

TEST_F(WindowsCommandLine, ProgramPathWithSpacesLosesItsQuotes) {
  fs::create_directories(dir / "Program Files");
  fs::copy_file(dir / "print_args.exe",
                dir / "Program Files" / "print args.exe");
  const Result r =
      run_program((dir / "Program Files" / "print args.exe").string(), dir, {});
  ASSERT_EQ(r.code, 0);
  const std::vector<std::string> lines = lines_of(r.out);
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_EQ(lines[0], "1");
  const std::string tail = "\\Program Files\\print args.exe]";
  ASSERT_GE(lines[1].size(), tail.size());
  EXPECT_EQ(lines[1].substr(lines[1].size() - tail.size()), tail) << lines[1];
  EXPECT_EQ(lines[1].find('"'), std::string::npos);
}

class RawCommandLine : public WindowsCommandLine,
                       public testing::WithParamInterface<samples::SplitCase> {
};

TEST_P(RawCommandLine, SplitsAsOnWindows) {
  const Result r = spawn("print_args.exe", GetParam().line);
  ASSERT_EQ(r.code, 0) << r.out;
  std::vector<std::string> expected = {std::to_string(GetParam().args.size())};
  for (const std::string& arg : GetParam().args)
    expected.push_back("[" + arg + "]");
  expected.push_back("(null)");
  EXPECT_EQ(lines_of(r.out), expected);
}

// The unit test's table, on the real platform. CreateProcess puts the
// program's name in place of an empty line, so those lines cannot be had.
std::vector<samples::SplitCase> nonempty_lines() {
  std::vector<samples::SplitCase> cases;
  for (const samples::SplitCase& c : samples::SPLIT_CASES)
    if (!c.line.empty()) cases.push_back(c);
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Rules, RawCommandLine,
                         testing::ValuesIn(nonempty_lines()),
                         samples::split_case_name);

TEST_F(WindowsCommandLine, ConverterSeesTheRawLine) {
  std::vector<unsigned char> image(64, 0);
  image[4] = image[8] = 36;
  write("app.bim", image);
  // The unclosed quote swallows the heap size: three arguments only.
  Result r = spawn("krelt.exe", "krelt app.bim \"out file.v 64k");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out,
            "usage>krelt appname.bim appname.v heap-size [mmarea-size]\r\n");
  EXPECT_FALSE(exists("out file.v 64k"));

  r = spawn("krelt.exe", "krelt app.bim \"out file.v\" 64k");
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_EQ(read("out file.v").size(), 64u);
}

// The programs' manifest selects the UTF-8 code page, so names outside the
// legacy one pass through GetCommandLineA and CreateFileA unchanged.
TEST_F(WindowsCommandLine, UnicodeFileNames) {
  // print_args has no manifest: its code page is a legacy one, which loses
  // the name.
  const Result control =
      run_program((dir / "print_args.exe").string(), dir, {"日本"});
  ASSERT_EQ(control.code, 0);
  EXPECT_EQ(control.out.find("日本"), std::string::npos) << control.out;

  const Bytes in = worked_example();
  for (const std::string name :
       {"日本語 イメージ", "Ünïcödé façade", "emoji 😀", "mixed 日本 é 😀 z"}) {
    SCOPED_TRACE(name);
    write(name + ".bim", in);
    const Result r = run({name + ".bim", name + ".v", "64k", "1m"});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(read(name + ".v"), with_header(in, WORKED_HEADER));
    const Result info = run_program(env("KRELT_INFO"), dir, {name + ".v"});
    EXPECT_EQ(info.code, 0) << info.out;
    EXPECT_EQ(lines_of(info.out, info_line_end()).at(0),
              "file: " + name + ".v");
  }
  const Result missing = run({"無い.bim", "無い.v", "64k"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.out, READ_ERROR);
  EXPECT_FALSE(exists("無い.v"));
}

// Windows devices are written as they are, never created as files.
TEST_F(WindowsCommandLine, DevicesAreWrittenDirectly) {
  write("app.bim", worked_example());
  const auto names = names_in(dir);
  EXPECT_EQ(run({"app.bim", "NUL", "64k"}).code, 0);
  EXPECT_EQ(run({"app.bim", "nul.v", "64k"}).code, 0) << "NUL too";
  EXPECT_EQ(names_in(dir), names);
}

// Wine shows a POSIX link as the file it leads to; the output is named by
// its final path, so the file is replaced and the link stays.
TEST_F(WindowsCommandLine, ALinkToAFileIsKept) {
  const Bytes in = worked_example();
  write("app.bim", in);
  write("real.v", {'o', 'l', 'd'});
  fs::create_symlink("real.v", dir / "link.v");
  EXPECT_EQ(run({"app.bim", "link.v", "64k", "1m"}).code, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.v"));
  EXPECT_EQ(read("real.v"), with_header(in, WORKED_HEADER));
}

// How a process ends that Ctrl+C stopped, or that finished first: 0x3A is
// the low byte of STATUS_CONTROL_C_EXIT, and Wine 8 ends it with 0.
bool ended_by_ctrl_c(int code) { return code == 0 || code == 0x3A; }

// Ctrl+C (Wine turns SIGINT into the console event) at a random moment.
// The handler runs beside the main thread: were it to clean up while a
// rename is in flight it could remove the output (1 run in 1,000 did),
// so it waits for the replacement under way instead. The output is the old
// one or the new one, and nothing is left beside it.
TEST_F(WindowsCommandLine, InterruptedRunsLeaveNothingBehind) {
  Bytes in = image(0x3FFFFF);
  put_word(in, 0x18, 0x24);
  write("app.bim", in);
  const auto names = names_in(dir);
  ASSERT_EQ(run({"app.bim", "app.v", "64k"}).code, 0);  // Wine warmed up
  const Bytes want = read("app.v");
  const Args args = {"app.bim", "app.v", "64k"};
  const long clean_us = clean_run_us(env("KRELT_PROGRAM"), dir, args);
  std::mt19937 random(4242);
  std::uniform_int_distribution<long> delay(0, clean_us);
  const int runs = 40;
  int interrupted = 0, wine_faults = 0;
  for (int i = 0; i < runs; ++i) {
    write("app.v", {'o', 'l', 'd'});
    const int code = interrupted_run(env("KRELT_PROGRAM"), dir, args, SIGINT,
                                     delay(random), {}, 10000);
    SCOPED_TRACE("run " + std::to_string(i) + ", exit " + std::to_string(code));
    // 1: a failure of its own, with a message. Wine itself, met by SIGINT while
    // it starts or ends a process, at times dies of SIGSEGV or SIGKILL or
    // hangs; a plain mingw program with a console handler does so too, in about
    // 1 run of 100. A fault in the program would end it with an exception code
    // instead.
    const bool wine_fault =
        code == 128 + SIGSEGV || code == 128 + SIGKILL || code == HUNG;
    wine_faults += wine_fault;
    EXPECT_TRUE(ended_by_ctrl_c(code) || code == 1 || code == 128 + SIGINT ||
                wine_fault);
    const Bytes out = read("app.v");
    interrupted += out != want;
    EXPECT_TRUE(out == Bytes({'o', 'l', 'd'}) || out == want);
    auto now = names_in(dir);
    now.erase("app.v");
    EXPECT_EQ(now, names) << "nothing left behind";
  }
  // A handler that never let the process end would hang about half of them.
  EXPECT_LE(wine_faults, 5) << "far more than Wine's own";
  std::cout << "[ ctrl+c   ] " << interrupted << " of " << runs
            << " runs stopped before the output was replaced; " << wine_faults
            << " ended by faults of Wine's own\n";
}

// Windows refuses the rename while a reader has the output open. Held for
// less than the second that the rename is tried for, with Ctrl+C meanwhile:
// the replacement under way finishes once the reader closes it, and only
// then does the process end (a handler that removed the file beside would
// leave the old output). Held for longer: a write error, the output as it
// was, never written over in place.
TEST_F(WindowsCommandLine, AReaderHoldingTheOutputDelaysTheReplacement) {
  const Bytes in = worked_example();
  for (const bool long_hold : {false, true}) {
    SCOPED_TRACE(long_hold ? "held for long" : "Ctrl+C while held");
    fs::remove(dir / "held");
    write("app.bim", in);
    write("app.v", {'o', 'l', 'd'});
    auto names = names_in(dir);
    names.insert("held");
    const pid_t reader = start_program(
        env("KRELT_HOLD"), dir, {"app.v", "held", long_hold ? "3000" : "700"});
    const auto waited_for = [](auto ready) {
      for (int ms = 0; ms < 10000 && !ready(); ++ms) usleep(1000);
      return ready();
    };
    ASSERT_TRUE(waited_for([&] { return exists("held"); }));
    const pid_t krelt = start_program(env("KRELT_PROGRAM"), dir,
                                      {"app.bim", "app.v", "64k", "1m"});
    // The file beside, whole: the rename is being refused now, or is done
    // already when Wine was slow to start the program.
    const bool beside = waited_for([&] {
      for (const std::string& name : names_in(dir)) {
        if (name.find(".krelt-") != std::string::npos &&
            read(name).size() == in.size()) {
          return true;
        }
      }
      return read("app.v").size() == in.size();
    });
    usleep(20000);
    if (!long_hold) kill(krelt, SIGINT);
    const int code = wait_program(krelt, 10000);
    EXPECT_EQ(wait_program(reader, 10000), 0);
    EXPECT_TRUE(beside);
    EXPECT_TRUE(long_hold ? code == 1 : ended_by_ctrl_c(code)) << code;
    EXPECT_EQ(read("app.v"), long_hold ? Bytes({'o', 'l', 'd'})
                                       : with_header(in, WORKED_HEADER));
    EXPECT_EQ(names_in(dir), names);
  }
}

}  // namespace
