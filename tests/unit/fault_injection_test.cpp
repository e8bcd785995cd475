// Every platform call of a run, failed in turn, and the process interrupted
// there: whatever happens, the run ends with exit 1 and one message line,
// with exit 0 and the complete, correct output, or interrupted. Otherwise
// every file is as it was, except an output written over in place, which
// is whole (the image itself) or gone or empty; no file appears that was
// not there, no link is replaced and no handle stays open. A fault the run
// can get round (a name taken, a rename refused for a moment) ends in the
// converted output. Built twice: with the platform's POSIX rules and with
// its Windows ones.
#include <gtest/gtest.h>

#include <iostream>
#include <map>
#include <set>
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
  // The conditions of the folder (mp::State's fields of the same names).
  std::map<std::string, DWORD> closed_folders = {};
  std::set<std::string> kept_names = {};
  std::set<std::string> read_only = {};
  // An output written over in place (not the image) that a failure leaves
  // removed, or emptied where its folder refuses that.
  enum { kept, removed, emptied } written_over = kept;
  int clean_code = 0;
  // Whose identity (owner, group, mode) the output has after a clean run:
  // the file it replaced, "new", or "" where it is not replaced.
  std::string identity = "";
  // Further conditions of the platform.
  void (*more)(mp::State&) = nullptr;
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
  mp::state().closed_folders = s.closed_folders;
  // A folder that keeps another user's file from being renamed over
  // (sticky) is POSIX's; on Windows the refusal is a reader's.
  if (!PLATFORM_OPEN_FILE_BLOCKS_REPLACE) mp::state().kept_names = s.kept_names;
  mp::state().read_only = s.read_only;
  if (s.more != nullptr) s.more(mp::state());
}

// The rows' settings beyond their files.
Scenario with_identity(Scenario s, const std::string& whose) {
  s.identity = whose;
  return s;
}

Scenario in_closed_folder(Scenario s, const std::string& folder, DWORD error,
                          decltype(Scenario::written_over) undone) {
  s.closed_folders = {{folder, error}};
  s.written_over = undone;
  return s;
}

Scenario written_over_as(Scenario s, decltype(Scenario::written_over) undone) {
  s.written_over = undone;
  return s;
}

// Only POSIX has folders that keep every name; elsewhere the rows are
// plain folders.
void append_only_here(mp::State& st) {
  if (PLATFORM_FOLDERS_KEEP_NAMES) st.append_only_folders = {""};
}
void mounted_here(mp::State& st) { st.mount_points = {"out.v", "in.bim"}; }
void unreadable_here(mp::State& st) { st.unreadable_owners = {"out.v"}; }

Scenario written_not_replaced(Scenario s) {
  s.kept_names = {s.output};
  s.written_over = Scenario::emptied;
  return s;
}

Scenario refused(Scenario s, bool refused = true) {
  s.clean_code = refused ? 1 : 0;
  return s;
}

Scenario with(Scenario s, void (*more)(mp::State&)) {
  s.more = more;
  return s;
}

Scenario read_only(Scenario s) {
  s.read_only = {s.output};
  return refused(s);
}

mp::Fault with_error(mp::Fault fault, DWORD error) {
  fault.error = error;
  return fault;
}

mp::Fault at(uint64_t call_number, mp::FaultKind kind, uint32_t amount = 0) {
  mp::Fault fault;
  fault.call_number = call_number;
  fault.kind = kind;
  fault.amount = amount;
  return fault;
}

// Faults tried together on one run; `passes` where the run gets round them.
struct Try {
  std::vector<mp::Fault> faults;
  bool passes = false;
};

// The faults worth trying on one call of the clean run.
std::vector<Try> faults_for(const mp::CallRecord& call, uint64_t number,
                            uint32_t image_size) {
  using K = mp::FaultKind;
  std::vector<Try> out;
  switch (call.call) {
    case mp::CALL_GET_COMMAND_LINE:
    case mp::CALL_GET_PROCESS_HEAP:
    case mp::CALL_EXIT_PROCESS:
    case mp::CALL_GET_LAST_ERROR:
    case mp::CALL_GET_PROCESS_ID:
    case mp::CALL_SLEEP:
    case mp::CALL_DEFER_INTERRUPTIONS:
    case mp::CALL_HUGE_PAGES:
    // What it cannot tell it takes for a folder that lets names go: at
    // worst the file beside is left there, never the output lost.
    case mp::CALL_FOLDER_KEEPS_NAMES:
      break;  // these report no failure
    case mp::CALL_CREATE_FILE:
    case mp::CALL_CREATE_PRIVATE:
      // Refusals that a different way or name may get round, and those it
      // may not.
      for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_DISK_FULL,
                          ERROR_NOT_ENOUGH_MEMORY, ERROR_FILE_EXISTS}) {
        out.push_back({{with_error(at(number, K::fail), error)},
                       call.call == mp::CALL_CREATE_PRIVATE &&
                           error == ERROR_FILE_EXISTS});
      }
      break;
    case mp::CALL_READ_FILE:
      out.push_back({{at(number, K::fail)}});
      out.push_back({{at(number, K::fail, image_size / 2)}});
      for (uint32_t amount : {0u, 11u, 35u, image_size / 2, image_size - 1}) {
        out.push_back({{at(number, K::short_, amount)}});
      }
      break;
    case mp::CALL_WRITE_FILE:
      for (const mp::Fault& fault :
           {at(number, K::fail), at(number, K::short_, 0),
            at(number, K::short_, 1), at(number, K::short_, call.requested / 2),
            at(number, K::short_, call.requested - 1)}) {
        out.push_back({{fault}});
        // And the removal of the partial output failing as well.
        out.push_back({{fault, mp::nth(mp::CALL_DELETE_FILE, 1)}});
      }
      break;
    case mp::CALL_CLOSE_HANDLE:
      out.push_back({{at(number, K::fail)}});
      out.push_back({{at(number, K::fail), mp::nth(mp::CALL_DELETE_FILE, 1)}});
      break;
    case mp::CALL_MOVE_FILE:
      // For a moment (tried again where a reader may hold the file), and
      // for good: refused by the folder (then written over in place), or
      // for another reason.
      for (DWORD error : {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED,
                          ERROR_NOT_ENOUGH_MEMORY}) {
        out.push_back({{with_error(at(number, K::fail), error)},
                       error == ERROR_SHARING_VIOLATION ||
                           (error == ERROR_ACCESS_DENIED &&
                            PLATFORM_OPEN_FILE_BLOCKS_REPLACE)});
        const mp::Fault always =
            with_error(mp::from_nth(mp::CALL_MOVE_FILE, 1), error);
        out.push_back({{always}});
        out.push_back({{always, mp::nth(mp::CALL_DELETE_FILE, 1)}});
      }
      break;
    case mp::CALL_GET_FILE_INFO:
    case mp::CALL_FILE_INFORMATION:
    case mp::CALL_GET_FILE_TYPE:
      // A look that fails, and then the write too: what could not be told
      // must not have been taken for something it is not.
      out.push_back({{at(number, K::fail)}});
      out.push_back({{at(number, K::fail), mp::nth(mp::CALL_WRITE_FILE, 1)}});
      break;
    default:
      out.push_back({{at(number, K::fail)}});
  }
  // And interrupted (a signal, Ctrl+C) or killed just before the call.
  if (call.call != mp::CALL_EXIT_PROCESS) {
    out.push_back({{at(number, K::interrupt)}});
    out.push_back({{at(number, K::kill)}});
  }
  return out;
}

bool is_message_prefix(const std::string& out) {
  for (const std::string& m : MESSAGES) {
    if (m.compare(0, out.size(), out) == 0) return true;
  }
  return false;
}

// A file of the run's own: beside the output, named after it.
bool is_ours(const std::string& name) {
  return name.find(".krelt-4242") != std::string::npos;
}

// Where the output lives: the path, or where its link leads.
std::string target_of(const Scenario& s) {
  return s.links.count(s.output) ? s.links.at(s.output) : s.output;
}

void check_files(const Scenario& s, const mp::State& st, int code,
                 const Bytes& clean_output, bool delete_failed) {
  const std::string target = target_of(s);
  const bool in_place = target == "in.bim";
  EXPECT_EQ(st.links, s.links) << "a link is never replaced";
  EXPECT_EQ(st.devices.size(), s.devices.size()) << "a device stays";
  for (const auto& [name, bytes] : st.files) {
    if (name == target || s.files.count(name)) continue;
    // Left only where removing it failed too, or SIGKILL came first.
    EXPECT_TRUE((delete_failed || code == mp::KILLED) && is_ours(name))
        << name << " is new";
  }
  for (const auto& [name, bytes] : s.files) {
    if (name != target) {
      EXPECT_EQ(read_through(st, name), bytes) << name;
    }
  }
  const Bytes out = read_through(st, s.output);
  const Bytes before = s.files.count(target) ? s.files.at(target) : Bytes();
  if (code == 0) {
    EXPECT_EQ(out, clean_output) << "exit 0 only with the full output";
  } else if (out == clean_output && out != before) {
    // Whole, though the run then failed or was interrupted: closing it, or
    // in place, or after it took the output's place.
  } else if (in_place) {
    // The image: old or new header, the same body.
    EXPECT_TRUE(out == before || out == clean_output) << "the image is whole";
  } else if (s.written_over != Scenario::kept && s.files.count(target)) {
    // Untouched, or undone as the folder allows.
    const bool emptied = st.files.count(target) && out.empty();
    const bool undone =
        s.written_over == Scenario::removed
            ? !st.files.count(target) ||
                  ((delete_failed || code == mp::KILLED) && emptied)
            : emptied;
    EXPECT_TRUE(out == before || undone) << "never left incomplete";
  } else if (s.devices.empty()) {
    EXPECT_EQ(out, before) << "the output as it was";
    if (!s.files.count(target) && s.devices.empty()) {
      EXPECT_FALSE(st.files.count(target) && !out.empty())
          << "a new output appears only whole";
    }
  }
}

// The faulty runs of one scenario, each checked; returns their number.
uint64_t sweep(const Scenario& s) {
  const Bytes input = s.files.at("in.bim");
  load(s);
  const int clean_code = mp::run(s.line);
  const std::vector<mp::CallRecord> clean = mp::state().log;
  const Bytes clean_output = read_through(mp::state(), s.output);
  {
    SCOPED_TRACE(std::string(s.name) + ": clean run");
    EXPECT_EQ(clean_code, s.clean_code);
    if (clean_code == 0) {  // the image whole, past the header
      EXPECT_TRUE(clean_output.size() == input.size() &&
                  std::equal(input.begin() + 36, input.end(),
                             clean_output.begin() + 36));
    }
    check_files(s, mp::state(), clean_code, clean_output, false);
    if (!s.identity.empty()) {
      EXPECT_EQ(mp::state().identities[target_of(s)], s.identity);
    }
  }
  uint64_t runs = 0;

  for (uint64_t number = 1; number <= clean.size(); ++number) {
    const mp::CallRecord& call = clean[number - 1];
    for (const auto& [faults, passes] :
         faults_for(call, number, static_cast<uint32_t>(input.size()))) {
      SCOPED_TRACE(std::string(s.name) + ": call " + std::to_string(number) +
                   " " + mp::call_name(call.call) + " kind " +
                   std::to_string(static_cast<int>(faults[0].kind)) +
                   " amount " + std::to_string(faults[0].amount) + " error " +
                   std::to_string(faults[0].error) +
                   (faults.size() > 1
                        ? std::string(" + ") + mp::call_name(faults[1].call)
                        : ""));
      load(s);
      mp::state().faults = faults;
      const int code = mp::run(s.line);
      ++runs;
      const mp::State& st = mp::state();
      EXPECT_EQ(st.open_handles, 0u);
      if (passes && clean_code == 0) {
        EXPECT_EQ(code, 0) << "got round";
      }
      check_files(
          s, st, code, clean_output,
          (faults.size() > 1 && faults[1].call == mp::CALL_DELETE_FILE) ||
              call.call == mp::CALL_DELETE_FILE);
      if (code == 0) {
        EXPECT_EQ(clean_code, 0) << "a failing run cannot succeed";
        EXPECT_EQ(st.stdout_bytes, "");
        continue;
      }
      if (code == mp::INTERRUPTED || code == mp::KILLED) continue;
      EXPECT_EQ(code, 1);
      // One message line; the line itself may be cut short only when the
      // fault hit standard output.
      const bool hit_stdout = call.call == mp::CALL_GET_STD_HANDLE ||
                              (call.call == mp::CALL_WRITE_FILE &&
                               call.handle == mp::std_output_handle()) ||
                              faults.back().call == mp::CALL_WRITE_FILE;
      if (hit_stdout) {
        EXPECT_TRUE(is_message_prefix(st.stdout_bytes)) << st.stdout_bytes;
      } else {
        EXPECT_NE(std::find(MESSAGES.begin(), MESSAGES.end(), st.stdout_bytes),
                  MESSAGES.end())
            << st.stdout_bytes;
      }
    }
  }
  std::cout << "[ faults   ] " << s.name << ": " << runs << " faulty runs\n";
  return runs;
}

TEST(FaultInjection, EveryCallOfEveryRunFailedInTurn) {
  const Bytes good = image(1000);
  const Bytes previous = {'o', 'l', 'd'};
  // Longer than the new output: a write over it that is not emptied first
  // would leave its tail.
  const Bytes longer(1500, 'o');
  const std::string long_name(250, 'n');
  std::string wide_name;  // 250 bytes of two-byte characters
  for (int i = 0; i < 125; ++i) wide_name += "\xC3\xA9";
  // A folder so long that no name fits beside the output in it.
  const std::string deep = std::string(PLATFORM_PATH_MAX - 20, 'd') + "/";
  // 161 characters, past 260 bytes: a path Windows takes whole.
  std::string cjk;
  for (int i = 0; i < 80; ++i) cjk += "\xE6\x97\xA5";  // U+65E5
  cjk += "/" + cjk;
  // An existing output written over where `more` makes it so.
  const auto over = [&](const char* name, void (*more)(mp::State&),
                        decltype(Scenario::written_over) undone =
                            Scenario::emptied) {
    return with(written_over_as({name,
                                 "krelt in.bim out.v 64k",
                                 {{"in.bim", good}, {"out.v", longer}},
                                 "out.v"},
                                undone),
                more);
  };
  const std::vector<Scenario> scenarios = {
      with_identity({"convert over an existing output",
                     "krelt in.bim out.v 64k 1m",
                     {{"in.bim", good}, {"out.v", longer}},
                     "out.v"},
                    "out.v"),
      with_identity({"convert to a new output",
                     "krelt in.bim out.v 64k",
                     {{"in.bim", good}},
                     "out.v"},
                    "new"),
      {"convert in place",
       "krelt in.bim in.bim 64k",
       {{"in.bim", good}},
       "in.bim"},
      with_identity({"convert through a link to another folder",
                     "krelt in.bim out.v 64k",
                     {{"in.bim", good}, {"real/out.v", previous}},
                     "out.v",
                     {{"out.v", "real/out.v"}}},
                    "real/out.v"),
      {"convert through a link to nothing yet",
       "krelt in.bim out.v 64k",
       {{"in.bim", good}},
       "out.v",
       {{"out.v", "real/out.v"}}},
      {"convert to a device",
       "krelt in.bim NUL 64k",
       {{"in.bim", good}},
       "NUL",
       {},
       {{"NUL", ""}}},
      with_identity({"names another run with this process id holds",
                     "krelt in.bim out.v 64k",
                     {{"in.bim", good},
                      {"out.v", previous},
                      {"out.v.krelt-4242-00001000.tmp", previous},
                      {"out.v.krelt-4242-00001001.tmp", previous}},
                     "out.v"},
                    "out.v"),
      with(with_identity({"a link whose target was renamed while looked at",
                          "krelt in.bim out.v 64k",
                          {{"in.bim", good},
                           {"real/out.v", previous},
                           {"real/old.v", previous}},
                          "out.v",
                          {{"out.v", "real/out.v"}}},
                         "real/out.v"),
           [](mp::State& st) {
             st.stale_final_paths = 1;
             st.stale_final_name = "real/old.v";
           }),
      with({"a reader holds the output for a moment",
            "krelt in.bim out.v 64k",
            {{"in.bim", good}, {"out.v", previous}},
            "out.v"},
           [](mp::State& st) {
             if (PLATFORM_OPEN_FILE_BLOCKS_REPLACE) st.held["out.v"] = 3;
           }),
      // Where an open file blocks a rename, a refusal that outlasts the
      // pauses is a failure; elsewhere it is the folder's.
      with(refused({"a reader holds the output for long",
                    "krelt in.bim out.v 64k",
                    {{"in.bim", good}, {"out.v", previous}},
                    "out.v"},
                   PLATFORM_OPEN_FILE_BLOCKS_REPLACE),
           [](mp::State& st) {
             if (PLATFORM_OPEN_FILE_BLOCKS_REPLACE) st.held["out.v"] = 150;
           }),
      in_closed_folder(
          {"a folder that takes no new file",
           "krelt in/in.bim in/out.v 64k",
           {{"in.bim", good}, {"in/in.bim", good}, {"in/out.v", longer}},
           "in/out.v"},
          "in/", ERROR_ACCESS_DENIED, Scenario::emptied),
      in_closed_folder({"in place, in a folder that takes no new file",
                        "krelt in.bim in.bim 64k",
                        {{"in.bim", good}},
                        "in.bim"},
                       "", ERROR_ACCESS_DENIED, Scenario::kept),
      in_closed_folder({"a full folder",
                        "krelt in.bim out.v 64k",
                        {{"in.bim", good}, {"out.v", previous}},
                        "out.v"},
                       "", ERROR_DISK_FULL, Scenario::removed),
      written_not_replaced({"a file that may be written, not replaced",
                            "krelt in.bim out.v 64k",
                            {{"in.bim", good}, {"out.v", previous}},
                            "out.v"}),
      // Where nothing beside the output could be renamed or removed (an
      // append-only folder), the output is a mount point, what it carries
      // cannot be read whole, or no name fits beside it: written over, or
      // made directly.
      over("an append-only folder", append_only_here),
      over("an output that is a mount point", mounted_here),
      over("an owner that cannot be read whole", unreadable_here,
           Scenario::removed),
      with(with_identity({"a new output in an append-only folder",
                          "krelt in.bim out.v 64k",
                          {{"in.bim", good}},
                          "out.v"},
                         "new"),
           append_only_here),
      with({"in place, through a mount point",
            "krelt in.bim in.bim 64k",
            {{"in.bim", good}},
            "in.bim"},
           mounted_here),
      written_over_as({"no name fits beside the output",
                       "krelt in.bim " + deep + "o.v 64k",
                       {{"in.bim", good}, {deep + "o.v", longer}},
                       deep + "o.v"},
                      Scenario::removed),
      with_identity({"a path of three-byte characters past 260 bytes",
                     "krelt in.bim " + cjk + " 64k",
                     {{"in.bim", good}, {cjk, previous}},
                     cjk},
                    cjk),
      read_only({"a read-only output",
                 "krelt in.bim out.v 64k",
                 {{"in.bim", good}, {"out.v", previous}},
                 "out.v"}),
      with_identity({"a name as long as a name may be",
                     "krelt in.bim " + long_name + " 64k",
                     {{"in.bim", good}, {long_name, previous}},
                     long_name},
                    long_name),
      with_identity({"a long name of characters of two bytes",
                     "krelt in.bim " + wide_name + " 64k",
                     {{"in.bim", good}, {wide_name, previous}},
                     wide_name},
                    wide_name),
      refused({"bad image",
               "krelt in.bim out.v 64k",
               {{"in.bim", image(1000, 37)}, {"out.v", previous}},
               "out.v"}),
      refused({"too few arguments",
               "krelt in.bim out.v",
               {{"in.bim", good}, {"out.v", previous}},
               "out.v"}),
  };
  uint64_t runs = 0;
  for (const Scenario& s : scenarios) runs += sweep(s);
  std::cout << "[ faults   ] " << runs << " faulty runs of " << scenarios.size()
            << " clean runs\n";
  EXPECT_GT(runs, 100u);
}

}  // namespace
