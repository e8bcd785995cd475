// In-memory platform for tests: the KERNEL32 subset over a table of named
// files, with every call counted and any one call able to fail or fall
// short. Not thread-safe; one test at a time.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace memory_platform {

enum Call {
  CALL_GET_COMMAND_LINE,
  CALL_GET_STD_HANDLE,
  CALL_EXIT_PROCESS,
  CALL_GET_PROCESS_HEAP,
  CALL_HEAP_ALLOC,
  CALL_HEAP_FREE,
  CALL_CREATE_FILE,
  CALL_SET_FILE_POINTER,
  CALL_READ_FILE,
  CALL_WRITE_FILE,
  CALL_CLOSE_HANDLE,
  CALL_DELETE_FILE,
  CALL_MOVE_FILE,
  CALL_GET_FILE_TYPE,
  CALL_GET_FINAL_PATH,
  CALL_GET_PROCESS_ID,
  CALL_GET_LAST_ERROR,
  CALL_GET_FILE_INFO,
  CALL_SET_END_OF_FILE,
  CALL_SLEEP,
  CALL_PERFORMANCE_COUNTER,
  CALL_FILE_INFORMATION,
  CALL_MAY_WRITE,
  CALL_CREATE_PRIVATE,
  CALL_KEEP_IDENTITY,
  CALL_LINK_TARGET,
  CALL_DEFER_INTERRUPTIONS,
  CALL_HUGE_PAGES,
  CALL_KIND_COUNT
};

const char* call_name(Call call);

// What happens to the one call picked either by its number in the run
// (1-based, counting every platform call) or as the n-th call of one kind.
enum class FaultKind {
  fail,       // the call reports failure (ReadFile delivers `amount` first)
  short_,     // ReadFile delivers, WriteFile accepts, at most `amount` bytes
  interrupt,  // the process is interrupted (a signal, Ctrl+C) instead, or
              // once interruptions no longer wait
  kill,       // the process is killed there (SIGKILL), waiting for nothing
};

// The exit codes of runs ended by FaultKind::interrupt and ::kill.
constexpr int INTERRUPTED = 130;
constexpr int KILLED = 137;

struct Fault {
  uint64_t call_number = 0;  // 0: pick by kind instead
  Call call = CALL_KIND_COUNT;
  uint64_t occurrence = 0;  // 0: no fault
  FaultKind kind = FaultKind::fail;
  uint32_t amount = 0;
  // What GetLastError says after the failure.
  DWORD error = ERROR_ACCESS_DENIED;
  // Picked by kind: every later call of that kind too, as a file that
  // stays locked would.
  bool persistent = false;
};

struct CallRecord {
  Call call;
  HANDLE handle;
  std::string data;  // bytes written by WriteFile; path of CreateFileA,
                     // DeleteFileA and MoveFileExA (the source)
  uint32_t requested;
};

// The process id GetCurrentProcessId gives.
constexpr DWORD PROCESS_ID = 4242;
// QueryPerformanceCounter gives this, then one more at each call.
constexpr long long FIRST_COUNT = 0x1000;

struct State {
  std::map<std::string, std::vector<unsigned char>> files;
  // Symbolic links, name to target; opening one opens its target.
  std::map<std::string, std::string> links;
  // Character devices, name to what was written to them; they read empty.
  std::map<std::string, std::string> devices;
  // Files this process may not write (the read-only attribute).
  std::set<std::string> read_only;
  // Folders ("dir/", "" for the current one) that take no new file, with
  // the error creating one gives: ERROR_ACCESS_DENIED (no files may be
  // removed or renamed there either) or ERROR_DISK_FULL (no free entries).
  std::map<std::string, DWORD> closed_folders;
  // Files that may be written but not replaced or removed, as another
  // user's file in a sticky folder.
  std::set<std::string> kept_names;
  // Files given an identity by platform_keep_identity, and with whose.
  std::map<std::string, std::string> identities;
  // Renames over these names refused with ERROR_ACCESS_DENIED, as Windows
  // refuses while a reader has the file open, this many times each; while
  // held, they open for reading only.
  std::map<std::string, int> held;
  // The first this many GetFinalPathNameByHandleA calls answer this name,
  // that of a file the one looked at was renamed from: it now leads
  // elsewhere.
  int stale_final_paths = 0;
  std::string stale_final_name;
  std::string command_line;
  std::string stdin_bytes;
  std::string stdout_bytes;
  std::string stderr_bytes;
  std::vector<CallRecord> log;
  uint64_t counts[CALL_KIND_COUNT] = {};
  std::vector<Fault> faults;
  // Every ReadFile delivers at most this many bytes (0: no limit).
  uint32_t read_chunk = 0;
  // Fill fresh blocks with 0xA5 so that reading what was never written
  // shows; fuzzers turn it off for speed.
  bool poison_blocks = true;
  // Keep the log of calls; fuzzers, which never read it, turn it off.
  bool keep_log = true;
  uint64_t total = 0;  // calls made, logged or not
  uint32_t open_handles = 0;
  uint64_t live_blocks = 0;
  bool fault_hit = false;
};

// Empties files, log, streams and faults.
void reset();
State& state();

uint64_t count(Call call);
Fault nth(Call call, uint64_t occurrence, FaultKind kind = FaultKind::fail,
          uint32_t amount = 0);
// The occurrence-th call of a kind and every one after it fail.
Fault from_nth(Call call, uint64_t occurrence);
uint64_t total_calls();
// Whether interruptions wait now (platform_defer_interruptions).
bool deferring();
// The handle GetStdHandle gives for standard output.
HANDLE std_output_handle();

std::vector<unsigned char> bytes_of(const std::string& text);

// Runs the process entry on `command_line` until ExitProcess; returns the
// exit code.
int run(const std::string& command_line);

}  // namespace memory_platform
