// Every platform call of a run, failed in turn: whatever fails, the run
// ends with exit 1 and one message line, or with exit 0 and the complete,
// correct output. A failed run leaves every file as it was (the output, or
// in place the image itself), no file appears that was not there, and no
// handle stays open.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "converter/header.h"
#include "platform/memory/memory_platform.h"
#include "tests/common/samples.h"

namespace {

namespace mp = memory_platform;
using namespace samples;

struct Scenario {
  const char* name;
  std::string line;
  std::map<std::string, Bytes> files;
  std::string output;  // the path the run writes
  std::map<std::string, std::string> links = {};
  std::map<std::string, std::string> devices = {};
};

// What reading the path gives, through a link; empty when there is nothing.
Bytes read_through(const mp::State& st, std::string name) {
  if (st.links.count(name)) name = st.links.at(name);
  if (st.devices.count(name)) return mp::bytes_of(st.devices.at(name));
  return st.files.count(name) ? st.files.at(name) : Bytes();
}

void load(const Scenario& s) {
  mp::reset();
  mp::state().files = s.files;
  mp::state().links = s.links;
  mp::state().devices = s.devices;
}

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
    case mp::CALL_MOVE_FILE:
      // Once (tried again), and for good.
      out.push_back({at(number, K::fail)});
      out.push_back({mp::from_nth(mp::CALL_MOVE_FILE, 1)});
      out.push_back({mp::from_nth(mp::CALL_MOVE_FILE, 1),
                     mp::nth(mp::CALL_DELETE_FILE, 1)});
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
  load(s);
  const int clean_code = mp::run(s.line);
  const std::vector<mp::CallRecord> clean = mp::state().log;
  const Bytes clean_output = read_through(mp::state(), s.output);
  EXPECT_EQ(mp::state().links, s.links) << "a clean run keeps the link";
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
      load(s);
      mp::state().faults = faults;
      const int code = mp::run(s.line);
      ++totals->runs;
      const mp::State& st = mp::state();
      EXPECT_EQ(st.open_handles, 0u);

      if (code == 0) {
        // Where the platform cannot say where a link leads, the link itself
        // is replaced: the new file is still whole and the old one kept.
        EXPECT_EQ(clean_code, 0) << "a failing run cannot succeed";
        EXPECT_EQ(st.stdout_bytes, "");
        EXPECT_EQ(read_through(st, s.output), clean_output)
            << "exit 0 only with the full output";
        for (const auto& file : st.files) {
          if (file.first == s.output) continue;
          EXPECT_TRUE(s.files.count(file.first)) << file.first << " is new";
          if (clean_output != file.second) {
            EXPECT_EQ(file.second, s.files.at(file.first)) << file.first;
          }
        }
        continue;
      }
      EXPECT_EQ(st.links, s.links) << "a link is never replaced";
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

      // Every file is as it was. Only when the temporary file could not be
      // removed either does it stay, and then it is named after the output.
      std::map<std::string, Bytes> files = st.files;
      if (faults.size() > 1) {
        for (auto it = files.begin(); it != files.end();) {
          const bool ours =
              it->first.find(".v.krelt-4242") != std::string::npos ||
              it->first.find(".bim.krelt-4242") != std::string::npos;
          it = ours && !s.files.count(it->first) ? files.erase(it) : ++it;
        }
      }
      EXPECT_EQ(files, s.files);
      EXPECT_EQ(st.devices.size(), s.devices.size())
          << "a device is never removed";
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
      {"convert through a link to another folder",
       "krelt in.bim out.v 64k",
       {{"in.bim", good}, {"real/out.v", previous}},
       "out.v",
       {{"out.v", "real/out.v"}}},
      {"convert to a device",
       "krelt in.bim NUL 64k",
       {{"in.bim", good}},
       "NUL",
       {},
       {{"NUL", ""}}},
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
