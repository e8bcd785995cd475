// The whole run, process entry to exit code, on the in-memory platform:
// what a real file system cannot be made to do on demand.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "converter/header.h"
#include "platform/memory/memory_platform.h"
#include "tests/common/samples.h"

namespace {

namespace mp = memory_platform;
using namespace samples;

Bytes converted(Bytes b, uint32_t heap, uint32_t mmarea) {
  rewrite_header(b.data(), heap, mmarea);
  return b;
}

class ConverterRun : public testing::Test {
 protected:
  void SetUp() override {
    mp::reset();
    mp::state().files["in.bim"] = input;
    mp::state().files["out.v"] = old_output;
  }
  int run(const std::string& line = "krelt in.bim out.v 64k 1m") {
    return mp::run(line);
  }
  void expect_failure(const std::string& message) {
    EXPECT_EQ(mp::state().stdout_bytes, message);
    EXPECT_EQ(mp::state().open_handles, 0u);
  }
  void expect_output_untouched() {
    EXPECT_EQ(mp::state().files.at("out.v"), old_output);
  }
  const Bytes input = image(1000);
  const Bytes old_output = mp::bytes_of("previous build");
};

TEST_F(ConverterRun, Converts) {
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(mp::state().stdout_bytes, "");
  EXPECT_EQ(mp::state().files.at("out.v"), converted(input, 65536, 1 << 20));
  EXPECT_EQ(mp::state().open_handles, 0u);
}

TEST_F(ConverterRun, ArgumentCount) {
  for (const char* line : {"krelt in.bim out.v", "krelt in.bim", "krelt", ""}) {
    SetUp();
    EXPECT_EQ(run(line), 1) << line;
    expect_failure(USAGE);
    expect_output_untouched();
  }
  SetUp();
  EXPECT_EQ(run("krelt in.bim out.v 64k"), 0);
  EXPECT_EQ(mp::state().files.at("out.v"), converted(input, 65536, 0));
  SetUp();
  EXPECT_EQ(run("krelt in.bim out.v 64k 1m extra \"\" more"), 0);
  EXPECT_EQ(mp::state().files.at("out.v"), converted(input, 65536, 1 << 20));
}

TEST_F(ConverterRun, ShortInputsAreRefused) {
  for (size_t size : {0, 1, 11, 12, 35}) {
    SetUp();
    Bytes b = image(36);
    b.resize(size);
    mp::state().files["in.bim"] = b;
    EXPECT_EQ(run(), 1) << size;
    expect_failure(FORMAT_ERROR);
    expect_output_untouched();
  }
  SetUp();
  mp::state().files["in.bim"] = image(36);
  EXPECT_EQ(run(), 0) << "a bare header converts";
}

TEST_F(ConverterRun, AllocationFailures) {
  struct Case {
    uint64_t alloc;  // which HeapAlloc fails
    std::string message;
  };
  const Case cases[] = {
      {1, USAGE},        // argument text: the run sees no arguments
      {2, USAGE},        // argument vector
      {3, READ_ERROR},   // work buffer
      {4, READ_ERROR},   // input stream record
      {5, WRITE_ERROR},  // the replacement's record
  };
  for (const Case& c : cases) {
    SetUp();
    mp::state().faults = {mp::nth(mp::CALL_HEAP_ALLOC, c.alloc)};
    EXPECT_EQ(run(), 1) << "alloc " << c.alloc;
    EXPECT_TRUE(mp::state().fault_hit);
    expect_failure(c.message);
    expect_output_untouched();
    EXPECT_EQ(mp::state().files.size(), 2u) << "no file left behind";
  }
}

TEST_F(ConverterRun, BufferBoundary) {
  mp::state().files["in.bim"] = image(0x400000);
  EXPECT_EQ(run(), 1);
  expect_failure(READ_ERROR);
  expect_output_untouched();

  SetUp();
  const Bytes largest = image(0x3FFFFF);
  mp::state().files["in.bim"] = largest;
  EXPECT_EQ(run(), 0);
  EXPECT_EQ(mp::state().files.at("out.v"), converted(largest, 65536, 1 << 20));
}

}  // namespace
