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

// Every call the double supplies, once: its enum name and its own name.
#define MEMORY_PLATFORM_CALLS(X)                       \
  X(GET_COMMAND_LINE, GetCommandLineA)                 \
  X(GET_STD_HANDLE, GetStdHandle)                      \
  X(EXIT_PROCESS, ExitProcess)                         \
  X(GET_PROCESS_HEAP, GetProcessHeap)                  \
  X(HEAP_ALLOC, HeapAlloc)                             \
  X(HEAP_FREE, HeapFree)                               \
  X(CREATE_FILE, CreateFileA)                          \
  X(SET_FILE_POINTER, SetFilePointer)                  \
  X(READ_FILE, ReadFile)                               \
  X(WRITE_FILE, WriteFile)                             \
  X(CLOSE_HANDLE, CloseHandle)                         \
  X(DELETE_FILE, DeleteFileA)                          \
  X(MOVE_FILE, MoveFileExA)                            \
  X(GET_FILE_TYPE, GetFileType)                        \
  X(GET_FINAL_PATH, GetFinalPathNameByHandleA)         \
  X(GET_PROCESS_ID, GetCurrentProcessId)               \
  X(GET_LAST_ERROR, GetLastError)                      \
  X(GET_FILE_INFO, GetFileInformationByHandle)         \
  X(SET_END_OF_FILE, SetEndOfFile)                     \
  X(SLEEP, Sleep)                                      \
  X(PERFORMANCE_COUNTER, QueryPerformanceCounter)      \
  X(FILE_INFORMATION, platform_file_information)       \
  X(MAY_WRITE, platform_may_write)                     \
  X(FOLDER_KEEPS_NAMES, platform_folder_keeps_names)   \
  X(CREATE_PRIVATE, platform_create_private)           \
  X(KEEP_IDENTITY, platform_keep_identity)             \
  X(WRITE_ALONE, platform_write_alone)                 \
  X(LINK_TARGET, platform_link_target)                 \
  X(DEFER_INTERRUPTIONS, platform_defer_interruptions) \
  X(HUGE_PAGES, platform_prefer_huge_pages)

enum Call {
#define MEMORY_PLATFORM_ENUM(id, name) CALL_##id,
  MEMORY_PLATFORM_CALLS(MEMORY_PLATFORM_ENUM)
#undef MEMORY_PLATFORM_ENUM
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
  // Folders that take new files but keep every name (append-only): their
  // files are never removed or renamed.
  std::set<std::string> append_only_folders;
  // Files whose owner cannot be read whole (an access list, without
  // /proc): only writing over them keeps it.
  std::set<std::string> unreadable_owners;
  // Files that are mount points: renaming over them or removing them is
  // refused with ERROR_BUSY, writing them is not.
  std::set<std::string> mount_points;
  // Whose identity (owner, mode, attributes) each file has: "new" as a
  // plain create makes it, "private" as platform_create_private does, or
  // that of the file platform_keep_identity was given.
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
