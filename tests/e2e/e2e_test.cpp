// End-to-end: the real program on real files in a scratch directory.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>

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

TEST_F(EndToEnd, FullDiskLeavesNoPartialOutput) {
  Bytes in = image(200000);
  write("app.bim", in);
  write("app.v", previous);
  expect_failure(run({"app.bim", "app.v", "64k"}, 100000), WRITE_ERROR);
  EXPECT_FALSE(exists("app.v"));
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

TEST_F(PosixOnly, FailedWriteToADeviceDeletesNothing) {
  write("app.bim", worked_example());
  expect_failure(run({"app.bim", "/dev/full", "64k"}), WRITE_ERROR);
  struct stat st;
  ASSERT_EQ(stat("/dev/full", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

}  // namespace
