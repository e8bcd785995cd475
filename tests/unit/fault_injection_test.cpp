// Every platform call of a run, failed in turn: whatever fails, the run
// ends with exit 1 and one message line, or with exit 0 and the complete,
// correct output; an output file is never damaged by a failure that comes
// before it is opened, never left half-written after one that comes after,
// and no handle stays open.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "converter/header.h"
#include "platform/memory/memory_platform.h"

namespace {

namespace mp = memory_platform;
using Bytes = std::vector<unsigned char>;

const std::vector<std::string> MESSAGES = {
    "usage>krelt appname.bim appname.v heap-size [mmarea-size]\r\n",
    "bim file read error\r\n", "bim file format error\r\n",
    "Tamrisk file write error\r\n"};

Bytes image(size_t size, uint32_t check_b = 36) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<unsigned char>(i * 7);
  put_u32le(&b[BIM_CHECK_A], 36);
  put_u32le(&b[BIM_CHECK_B], check_b);
  return b;
}

struct Scenario {
  const char* name;
  std::string line;
  std::map<std::string, Bytes> files;
  std::string output;  // the path the run writes
};

mp::Fault at(uint64_t call_number, mp::FaultKind kind, uint32_t amount = 0) {
  mp::Fault fault;
  fault.call_number = call_number;
  fault.kind = kind;
  fault.amount = amount;
  return fault;
}

// The faults worth trying on one call of the clean run.
std::vector<std::vector<mp::Fault>> faults_for(const mp::CallRecord& call,
                                               uint64_t number,
                                               uint32_t image_size) {
  using K = mp::FaultKind;
  std::vector<std::vector<mp::Fault>> out;
  switch (call.call) {
    case mp::CALL_GET_COMMAND_LINE:
    case mp::CALL_GET_PROCESS_HEAP:
    case mp::CALL_EXIT_PROCESS:
      break;  // these report no failure on Windows either
    case mp::CALL_READ_FILE:
      out.push_back({at(number, K::fail)});
      out.push_back({at(number, K::fail, image_size / 2)});
      for (uint32_t amount : {0u, 11u, 35u, image_size / 2, image_size - 1}) {
        out.push_back({at(number, K::short_, amount)});
      }
      break;
    case mp::CALL_WRITE_FILE:
      for (const mp::Fault& fault :
           {at(number, K::fail), at(number, K::short_, 0),
            at(number, K::short_, 1), at(number, K::short_, call.requested / 2),
            at(number, K::short_, call.requested - 1)}) {
        out.push_back({fault});
        // And the removal of the partial output failing as well.
        out.push_back({fault, mp::nth(mp::CALL_DELETE_FILE, 1)});
      }
      break;
    case mp::CALL_CLOSE_HANDLE:
      out.push_back({at(number, K::fail)});
      out.push_back({at(number, K::fail), mp::nth(mp::CALL_DELETE_FILE, 1)});
      break;
    default:
      out.push_back({at(number, K::fail)});
  }
  return out;
}

bool is_message_prefix(const std::string& out) {
  for (const std::string& m : MESSAGES) {
    if (m.compare(0, out.size(), out) == 0) return true;
  }
  return false;
}

struct Totals {
  uint64_t runs = 0;
  uint64_t calls = 0;
};

void sweep(const Scenario& s, Totals* totals) {
  const Bytes input = s.files.at("in.bim");
  mp::reset();
  mp::state().files = s.files;
  const int clean_code = mp::run(s.line);
  const std::vector<mp::CallRecord> clean = mp::state().log;
  const auto clean_files = mp::state().files;
  const Bytes* before =
      s.files.count(s.output) ? &s.files.at(s.output) : nullptr;

  // The output is opened by the second CreateFileA, if any.
  uint64_t output_opened = clean.size() + 1;
  int creates = 0;
  for (size_t i = 0; i < clean.size(); ++i) {
    if (clean[i].call == mp::CALL_CREATE_FILE && ++creates == 2) {
      output_opened = i + 1;
    }
  }
  totals->calls = clean.size();

  for (uint64_t number = 1; number <= clean.size(); ++number) {
    const mp::CallRecord& call = clean[number - 1];
    for (const auto& faults :
         faults_for(call, number, static_cast<uint32_t>(input.size()))) {
      SCOPED_TRACE(std::string(s.name) + ": call " + std::to_string(number) +
                   " " + mp::call_name(call.call) + " kind " +
                   std::to_string(static_cast<int>(faults[0].kind)) +
                   " amount " + std::to_string(faults[0].amount) +
                   (faults.size() > 1 ? " + DeleteFileA" : ""));
      mp::reset();
      mp::state().files = s.files;
      mp::state().faults = faults;
      const int code = mp::run(s.line);
      ++totals->runs;
      const mp::State& st = mp::state();
      EXPECT_EQ(st.open_handles, 0u);

      if (code == 0) {
        EXPECT_EQ(clean_code, 0) << "a failing run cannot succeed";
        EXPECT_EQ(st.stdout_bytes, "");
        EXPECT_EQ(st.files, clean_files) << "exit 0 only with the full output";
        continue;
      }
      ASSERT_EQ(code, 1);
      // One message line; the line itself may be cut short only when the
      // fault hit standard output, and be missing only when the argument
      // vector could not be had.
      const bool hit_stdout = call.call == mp::CALL_GET_STD_HANDLE ||
                              (call.call == mp::CALL_WRITE_FILE &&
                               call.handle == mp::std_output_handle());
      uint64_t allocs_so_far = 0;
      for (uint64_t i = 0; i < number; ++i) {
        allocs_so_far += clean[i].call == mp::CALL_HEAP_ALLOC;
      }
      const bool no_argv =
          call.call == mp::CALL_HEAP_ALLOC && allocs_so_far <= 2;
      if (hit_stdout || no_argv) {
        EXPECT_TRUE(is_message_prefix(st.stdout_bytes)) << st.stdout_bytes;
      } else {
        EXPECT_NE(std::find(MESSAGES.begin(), MESSAGES.end(), st.stdout_bytes),
                  MESSAGES.end())
            << st.stdout_bytes;
      }

      const bool delete_failed = faults.size() > 1;
      if (number <= output_opened || clean_code != 0) {
        // Failed before the output was opened: it is as it was.
        if (before != nullptr) {
          ASSERT_TRUE(st.files.count(s.output));
          EXPECT_EQ(st.files.at(s.output), *before);
        } else {
          EXPECT_EQ(st.files.count(s.output), 0u);
        }
      } else if (!delete_failed) {
        EXPECT_EQ(st.files.count(s.output), 0u) << "partial output left";
        EXPECT_EQ(st.stdout_bytes, MESSAGES[3]);
      }
    }
  }
}

TEST(FaultInjection, EveryCallOfEveryRunFailedInTurn) {
  const Bytes good = image(1000);
  const Bytes previous = {'o', 'l', 'd'};
  const std::vector<Scenario> scenarios = {
      {"convert over an existing output",
       "krelt in.bim out.v 64k 1m",
       {{"in.bim", good}, {"out.v", previous}},
       "out.v"},
      {"convert to a new output",
       "krelt in.bim out.v 64k",
       {{"in.bim", good}},
       "out.v"},
      {"convert in place",
       "krelt in.bim in.bim 64k",
       {{"in.bim", good}},
       "in.bim"},
      {"bad image",
       "krelt in.bim out.v 64k",
       {{"in.bim", image(1000, 37)}, {"out.v", previous}},
       "out.v"},
      {"too few arguments",
       "krelt in.bim out.v",
       {{"in.bim", good}, {"out.v", previous}},
       "out.v"},
  };
  Totals all;
  for (const Scenario& s : scenarios) {
    Totals t;
    sweep(s, &t);
    std::cout << "[ faults   ] " << s.name << ": " << t.calls
              << " platform calls, " << t.runs << " faulty runs\n";
    all.runs += t.runs;
    all.calls += t.calls;
  }
  std::cout << "[ faults   ] total: " << all.runs << " faulty runs over "
            << all.calls << " calls of " << scenarios.size() << " clean runs\n";
  EXPECT_GT(all.runs, 100u);
}

}  // namespace
