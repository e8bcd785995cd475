#include "runtime/stream.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory/memory_platform.h"

namespace {

namespace mp = memory_platform;

class StreamTest : public testing::Test {
 protected:
  void SetUp() override {
    mp::reset();
    std_out.handle = GetStdHandle(STD_OUTPUT_HANDLE);
    std_out.flags = 0;
  }

  void put(const std::string& name, const std::string& text) {
    mp::state().files[name] = mp::bytes_of(text);
  }
  std::string contents(const std::string& name) {
    const auto& bytes = mp::state().files.at(name);
    return std::string(bytes.begin(), bytes.end());
  }
  std::string read_all(const std::string& name, const char* mode) {
    Stream* s = stream_open(name.c_str(), mode);
    EXPECT_NE(s, nullptr);
    if (s == nullptr) return "";
    char buf[64];
    const uint32_t n = stream_read(buf, 1, sizeof buf, s);
    stream_close(s);
    return std::string(buf, n);
  }
  std::vector<std::string> writes() {
    std::vector<std::string> out;
    for (const auto& r : mp::state().log) {
      if (r.call == mp::CALL_WRITE_FILE) out.push_back(r.data);
    }
    return out;
  }
};

TEST_F(StreamTest, BadModesTouchNoFile) {
  for (const char* mode : {"", "x", "+r", "br", "R", "\x01w"}) {
    mp::reset();
    EXPECT_EQ(stream_open("f", mode), nullptr) << mode;
    EXPECT_EQ(mp::count(mp::CALL_CREATE_FILE), 0u) << mode;
    EXPECT_EQ(mp::state().live_blocks, 0u) << mode;
    EXPECT_TRUE(mp::state().files.empty());
  }
}

TEST_F(StreamTest, ModesOpenAsTheyShould) {
  struct Case {
    const char* mode;
    bool binary;
    std::string after_write;  // file "oldold" after writing "NEW"
  };
  const Case cases[] = {
      {"w", false, "NEW"},        {"wb", true, "NEW"},
      {"w+", false, "NEW"},       {"a", false, "oldoldNEW"},
      {"ab+", true, "oldoldNEW"}, {"a+b", true, "oldoldNEW"},
      {"r+", false, "NEWold"},    {"r+b", true, "NEWold"},
      {"rb+", true, "NEWold"},    {"wxyzb", true, "NEW"},
  };
  for (const Case& c : cases) {
    mp::reset();
    put("f", "oldold");
    Stream* s = stream_open("f", c.mode);
    ASSERT_NE(s, nullptr) << c.mode;
    EXPECT_EQ((s->flags & STREAM_BINARY) != 0, c.binary) << c.mode;
    EXPECT_EQ(stream_write("NEW", 1, 3, s), 3u) << c.mode;
    EXPECT_EQ(stream_close(s), 0);
    EXPECT_EQ(contents("f"), c.after_write) << c.mode;
  }
}

TEST_F(StreamTest, ReadOnlyAndWriteOnlyAreEnforced) {
  put("f", "data");
  Stream* r = stream_open("f", "rb");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(stream_write("x", 1, 1, r), 0u);
  EXPECT_TRUE(stream_error(r));
  stream_close(r);
  EXPECT_EQ(contents("f"), "data");
}

TEST_F(StreamTest, MissingFileAndEmptiedFile) {
  EXPECT_EQ(stream_open("missing", "rb"), nullptr);
  EXPECT_EQ(stream_open("missing", "r+"), nullptr);
  EXPECT_EQ(mp::state().live_blocks, 0u);
  put("f", "data");
  Stream* s = stream_open("f", "wb");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(contents("f"), "");
  stream_close(s);
}

TEST_F(StreamTest, AppendSeekFailureLeavesNothingOpen) {
  mp::state().faults = {mp::nth(mp::CALL_SET_FILE_POINTER, 1)};
  EXPECT_EQ(stream_open("f", "a"), nullptr);
  EXPECT_EQ(mp::state().open_handles, 0u);
  EXPECT_EQ(mp::state().live_blocks, 0u);
}

TEST_F(StreamTest, RecordAllocationFailureGivesNull) {
  mp::state().faults = {mp::nth(mp::CALL_HEAP_ALLOC, 1)};
  EXPECT_EQ(stream_open("f", "w"), nullptr);
  EXPECT_EQ(mp::count(mp::CALL_CREATE_FILE), 0u);
}

TEST_F(StreamTest, TextReadDropsCarriageReturnsAndStaysAtEnd) {
  put("f", "A\r\nB");
  Stream* s = stream_open("f", "r");
  char buf[4] = {};
  EXPECT_EQ(stream_read(buf, 1, 4, s), 3u);
  EXPECT_EQ(std::string(buf, 3), "A\nB");
  EXPECT_TRUE(s->flags & STREAM_AT_END);
  mp::state().files["f"].push_back('C');
  const uint64_t reads = mp::count(mp::CALL_READ_FILE);
  EXPECT_EQ(stream_read(buf, 1, 1, s), 0u);
  EXPECT_EQ(mp::count(mp::CALL_READ_FILE), reads) << "no platform call at end";
  stream_close(s);
}

TEST_F(StreamTest, TextRefillsUntilNoCarriageReturnIsLeft) {
  // Every CR anywhere is dropped, not only before LF; refills that bring
  // CR bytes are cleaned and refilled again.
  put("f", "ab\r\r\r\rcd\rx");
  Stream* s = stream_open("f", "r");
  char buf[4];
  EXPECT_EQ(stream_read(buf, 1, 4, s), 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(mp::count(mp::CALL_READ_FILE), 3u);  // ab\r\r, \r\r, cd
  EXPECT_FALSE(s->flags & STREAM_AT_END);
  EXPECT_EQ(stream_read(buf, 1, 4, s), 1u);
  EXPECT_EQ(buf[0], 'x');
  stream_close(s);
}

TEST_F(StreamTest, BinaryReadCountsWholeItems) {
  put("f", "0123456789");
  Stream* s = stream_open("f", "rb");
  char buf[12];
  EXPECT_EQ(stream_read(buf, 4, 3, s), 2u);
  EXPECT_TRUE(s->flags & STREAM_AT_END);
  stream_close(s);
}

TEST_F(StreamTest, BinaryReadIsOnePlatformCallWhenTheRequestIsFilled) {
  put("f", "0123456789");
  Stream* s = stream_open("f", "rb");
  char buf[10];
  EXPECT_EQ(stream_read(buf, 1, 10, s), 10u);
  EXPECT_EQ(mp::count(mp::CALL_READ_FILE), 1u);
  // Past the end: the data, then one call that delivers nothing.
  EXPECT_EQ(stream_read(buf, 1, 10, s), 0u);
  EXPECT_EQ(mp::count(mp::CALL_READ_FILE), 2u);
  stream_close(s);
}

TEST_F(StreamTest, ShortDeliveriesAreGathered) {
  for (const char* mode : {"rb", "r"}) {
    mp::reset();
    put("f", "0123456789");
    mp::state().read_chunk = 3;
    Stream* s = stream_open("f", mode);
    char buf[16];
    EXPECT_EQ(stream_read(buf, 1, 16, s), 10u) << mode;
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(mp::count(mp::CALL_READ_FILE), 5u) << mode;  // 3,3,3,1,0
    stream_close(s);
  }
}

TEST_F(StreamTest, FailedReadSetsErrorAndEnd) {
  put("f", "0123456789");
  mp::state().faults = {mp::nth(mp::CALL_READ_FILE, 1, mp::FaultKind::fail, 4)};
  Stream* s = stream_open("f", "rb");
  char buf[10];
  EXPECT_EQ(stream_read(buf, 2, 5, s), 2u);
  EXPECT_TRUE(stream_error(s));
  EXPECT_TRUE(s->flags & STREAM_AT_END);
  stream_close(s);
}

TEST_F(StreamTest, ZeroTotalTouchesNothing) {
  put("f", "x");
  Stream* s = stream_open("f", "rb");
  char buf[1];
  EXPECT_EQ(stream_read(buf, 0, 5, s), 0u);
  EXPECT_EQ(stream_read(buf, 0x10000, 0x10000, s), 0u);  // wraps to 0
  EXPECT_EQ(stream_write(buf, 5, 0, s), 0u);
  EXPECT_EQ(s->flags, STREAM_BINARY);
  EXPECT_EQ(mp::count(mp::CALL_READ_FILE) + mp::count(mp::CALL_WRITE_FILE), 0u);
  stream_close(s);
}

TEST_F(StreamTest, TextWriteTurnsEachLineFeedIntoItsOwnCall) {
  Stream* s = stream_open("f", "w");
  EXPECT_EQ(stream_write("a\nb", 1, 3, s), 3u);
  EXPECT_EQ(writes(), (std::vector<std::string>{"a", "\r\n", "b"}));
  mp::state().log.clear();
  EXPECT_EQ(stream_write("\n\n", 1, 2, s), 2u);
  EXPECT_EQ(writes(), (std::vector<std::string>{"\r\n", "\r\n"}));
  stream_close(s);
  EXPECT_EQ(contents("f"), "a\r\nb\r\n\r\n");
}

TEST_F(StreamTest, TextWriteStopsAtTheFirstFailure) {
  Stream* s = stream_open("f", "w");
  mp::state().faults = {mp::nth(mp::CALL_WRITE_FILE, 2)};  // the CR LF
  EXPECT_EQ(stream_write("ab\ncd", 1, 5, s), 2u);
  EXPECT_EQ(mp::count(mp::CALL_WRITE_FILE), 2u);
  EXPECT_TRUE(stream_error(s));
  stream_close(s);
}

TEST_F(StreamTest, BinaryWriteIsOneCallAndCountsWhatWasAccepted) {
  Stream* s = stream_open("f", "wb");
  EXPECT_EQ(stream_write("a\nb\n", 2, 2, s), 2u);
  EXPECT_EQ(writes(), (std::vector<std::string>{"a\nb\n"}));
  mp::state().faults = {
      mp::nth(mp::CALL_WRITE_FILE, 2, mp::FaultKind::short_, 3)};
  EXPECT_EQ(stream_write("wxyz", 2, 2, s), 1u);
  EXPECT_TRUE(stream_error(s));
  stream_close(s);
}

TEST_F(StreamTest, CloseResults) {
  EXPECT_EQ(stream_close(nullptr), -1);
  Stream* s = stream_open("f", "w");
  mp::state().faults = {mp::nth(mp::CALL_CLOSE_HANDLE, 1)};
  EXPECT_EQ(stream_close(s), -1);
  EXPECT_EQ(mp::state().live_blocks, 1u) << "a failed close keeps the record";
}

TEST_F(StreamTest, PutsAndPutLine) {
  EXPECT_EQ(stream_puts("", &std_out), 0);
  EXPECT_EQ(mp::total_calls(), 1u);  // only GetStdHandle from SetUp
  EXPECT_EQ(put_line("bim file read error"), 0);
  EXPECT_EQ(mp::state().stdout_bytes, "bim file read error\r\n");

  mp::state().stdout_bytes.clear();
  mp::state().faults = {
      mp::nth(mp::CALL_WRITE_FILE, 3, mp::FaultKind::short_, 1)};
  EXPECT_EQ(put_line("msg"), -1);
  EXPECT_EQ(mp::count(mp::CALL_WRITE_FILE), 3u) << "no newline after a failure";
}

}  // namespace
