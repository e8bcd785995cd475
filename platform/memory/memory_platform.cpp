#include "platform/memory/memory_platform.h"

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

#include "runtime/start.h"

namespace memory_platform {
namespace {

struct OpenFile {
  std::string name;
  uint32_t position = 0;
  bool readable = false;
  bool writable = false;
  DWORD share = 0;
  bool device = false;
  bool link_itself = false;  // a link opened as itself
};

const uintptr_t STD_BASE = 0x1000;
const uintptr_t FILE_BASE = 0x2000;

State the_state;
// Blocks the run has not given back, with their sizes; process end, that
// is reset(), reclaims them. Never destroyed, so they stay reachable.
std::map<void*, size_t>& live_blocks = *new std::map<void*, size_t>;
// Large blocks reclaimed, kept for the next run: a fresh 4 MiB block per
// run costs a fuzzer most of its time.
const size_t KEPT_BLOCK_MIN = 1 << 20;
std::multimap<size_t, void*>& kept_blocks = *new std::multimap<size_t, void*>;
std::map<uintptr_t, OpenFile> open_files;
uintptr_t next_handle = FILE_BASE;
int heap_token;
std::jmp_buf exit_jump;
int exit_code;
bool running;
DWORD last_error;
// Interruptions waiting (platform_defer_interruptions), and one that came
// meanwhile.
bool deferred;
bool interrupt_pending;
long long counter;
// Whose identity each index a look gave out stands for.
std::vector<std::string>& owners = *new std::vector<std::string>;

std::string folder_of(const std::string& name) {
  const size_t slash = name.rfind('/');
  return slash == std::string::npos ? "" : name.substr(0, slash + 1);
}

// The error making a new file in this name's folder gives, or 0.
DWORD closed_folder_error(const std::string& name) {
  const auto it = the_state.closed_folders.find(folder_of(name));
  return it == the_state.closed_folders.end() ? 0 : it->second;
}

// 0 where the folder lets this name be removed or replaced, else the
// refusal.
DWORD unlink_error(const std::string& name) {
  if (the_state.mount_points.count(name)) return ERROR_BUSY;
  const bool refused = closed_folder_error(name) == ERROR_ACCESS_DENIED ||
                       the_state.kept_names.count(name) ||
                       the_state.append_only_folders.count(folder_of(name));
  return refused ? ERROR_ACCESS_DENIED : 0;
}

// As a signal or a console event ends the process: every handle closes
// and the run ends; nothing else is undone.
[[noreturn]] void die_interrupted(int code = INTERRUPTED);

}  // namespace
uint64_t count(Call call);
namespace {

// Counts the call and returns the fault that picks it, if any.
const Fault* enter(Call call, HANDLE handle = nullptr, const char* path = "",
                   uint32_t requested = 0) {
  if (the_state.keep_log)
    the_state.log.push_back({call, handle, path, requested});
  ++the_state.total;
  const uint64_t n = ++the_state.counts[call];
  for (const Fault& fault : the_state.faults) {
    const bool picked = fault.call_number != 0
                            ? fault.call_number == the_state.total
                            : fault.call == call && fault.occurrence != 0 &&
                                  (fault.occurrence == n ||
                                   (fault.persistent && fault.occurrence < n));
    if (picked) {
      the_state.fault_hit = true;
      if (fault.kind == FaultKind::kill) die_interrupted(KILLED);
      if (fault.kind == FaultKind::interrupt) {
        if (!deferred) die_interrupted();
        interrupt_pending = true;
        return nullptr;
      }
      last_error = fault.error;
      return &fault;
    }
  }
  return nullptr;
}

std::string* std_stream(HANDLE handle) {
  switch (reinterpret_cast<uintptr_t>(handle)) {
    case STD_BASE + 0:
      return &the_state.stdin_bytes;
    case STD_BASE + 1:
      return &the_state.stdout_bytes;
    case STD_BASE + 2:
      return &the_state.stderr_bytes;
    default:
      return nullptr;
  }
}

OpenFile* file_of(HANDLE handle) {
  auto it = open_files.find(reinterpret_cast<uintptr_t>(handle));
  return it == open_files.end() ? nullptr : &it->second;
}

bool is_open(const std::string& name) {
  for (const auto& entry : open_files) {
    if (entry.second.name == name) return true;
  }
  return false;
}

// Windows sharing: each open handle must allow what a new one asks, and
// the new one must allow what each open handle does.
bool sharing_allows(const std::string& name, bool read, bool write,
                    DWORD share) {
  for (const auto& entry : open_files) {
    const OpenFile& other = entry.second;
    if (other.name != name) continue;
    if ((read && !(other.share & FILE_SHARE_READ)) ||
        (write && !(other.share & FILE_SHARE_WRITE)) ||
        (other.readable && !(share & FILE_SHARE_READ)) ||
        (other.writable && !(share & FILE_SHARE_WRITE))) {
      return false;
    }
  }
  return true;
}

std::string resolve(std::string name) {
  for (int depth = 0; depth < 8 && the_state.links.count(name); ++depth) {
    name = the_state.links.at(name);
  }
  return name;
}

bool name_taken(const std::string& name) {
  return the_state.files.count(name) || the_state.links.count(name) ||
         the_state.devices.count(name);
}

void die_interrupted(int code) {
  open_files.clear();
  the_state.open_handles = 0;
  exit_code = code;
  if (!running) std::abort();
  std::longjmp(exit_jump, 1);
}

BOOL fail_with(DWORD error) {
  last_error = error;
  return FALSE;
}

HANDLE no_handle(DWORD error) {
  last_error = error;
  return INVALID_HANDLE_VALUE;
}

}  // namespace

const char* call_name(Call call) {
  static const char* const names[] = {
#define MEMORY_PLATFORM_NAME(id, name) #name,
      MEMORY_PLATFORM_CALLS(MEMORY_PLATFORM_NAME)
#undef MEMORY_PLATFORM_NAME
  };
  static_assert(sizeof names / sizeof names[0] == CALL_KIND_COUNT);
  return names[call];
}

void reset() {
  for (const auto& [block, size] : live_blocks) {
    if (size >= KEPT_BLOCK_MIN) {
      kept_blocks.emplace(size, block);
    } else {
      std::free(block);
    }
  }
  live_blocks.clear();
  the_state = State();
  open_files.clear();
  next_handle = FILE_BASE;
  last_error = 0;
  deferred = false;
  interrupt_pending = false;
  counter = FIRST_COUNT;
  owners.clear();
}

bool deferring() { return deferred; }

State& state() { return the_state; }

uint64_t count(Call call) { return the_state.counts[call]; }

Fault nth(Call call, uint64_t occurrence, FaultKind kind, uint32_t amount) {
  Fault fault;
  fault.call = call;
  fault.occurrence = occurrence;
  fault.kind = kind;
  fault.amount = amount;
  return fault;
}

Fault from_nth(Call call, uint64_t occurrence) {
  Fault fault = nth(call, occurrence);
  fault.persistent = true;
  return fault;
}

HANDLE std_output_handle() { return reinterpret_cast<HANDLE>(STD_BASE + 1); }

uint64_t total_calls() { return the_state.total; }

std::vector<unsigned char> bytes_of(const std::string& text) {
  return std::vector<unsigned char>(text.begin(), text.end());
}

int run(const std::string& command_line) {
  the_state.command_line = command_line;
  running = true;
  if (setjmp(exit_jump) == 0) start();
  running = false;
  return exit_code;
}

}  // namespace memory_platform

using namespace memory_platform;

extern "C" {

LPSTR WINAPI GetCommandLineA(void) {
  enter(CALL_GET_COMMAND_LINE);
  return &the_state.command_line[0];
}

HANDLE WINAPI GetStdHandle(DWORD std_handle) {
  if (enter(CALL_GET_STD_HANDLE) != nullptr) return INVALID_HANDLE_VALUE;
  const DWORD index = STD_INPUT_HANDLE - std_handle;
  if (index > 2) return INVALID_HANDLE_VALUE;
  return reinterpret_cast<HANDLE>(STD_BASE + index);
}

void WINAPI ExitProcess(UINT code) {
  enter(CALL_EXIT_PROCESS);
  exit_code = static_cast<int>(code);
  if (!running) std::abort();
  std::longjmp(exit_jump, 1);
}

HANDLE WINAPI GetProcessHeap(void) {
  enter(CALL_GET_PROCESS_HEAP);
  return &heap_token;
}

LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
  if (enter(CALL_HEAP_ALLOC) != nullptr) return nullptr;
  void* block = nullptr;
  const auto kept = kept_blocks.find(bytes);
  if (kept != kept_blocks.end()) {
    block = kept->second;
    kept_blocks.erase(kept);
  } else {
    block = std::malloc(bytes != 0 ? bytes : 1);
  }
  // Fresh blocks are never zero, so code that reads what it never wrote
  // shows up in tests.
  if (block == nullptr) return nullptr;
  if (the_state.poison_blocks) std::memset(block, 0xA5, bytes);
  live_blocks[block] = bytes;
  ++the_state.live_blocks;
  return block;
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID block) {
  if (enter(CALL_HEAP_FREE) != nullptr) return FALSE;
  if (live_blocks.erase(block) == 0) std::abort();  // not ours, or freed twice
  std::free(block);
  --the_state.live_blocks;
  return TRUE;
}

namespace {

// The units the platform's limits count: bytes, or UTF-16 units.
size_t units_of(const std::string& text) {
  if (!PLATFORM_LIMITS_IN_UTF16) return text.size();
  size_t units = 0;
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

// Names are UTF-8, as under the UTF-8 code page, and within the limits of
// a name (in bytes) and of a whole path.
DWORD name_error(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string name =
      slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() > PLATFORM_NAME_MAX || units_of(path) >= PLATFORM_PATH_MAX) {
    return ERROR_FILENAME_EXCED_RANGE;
  }
  for (size_t i = 0; i < name.size();) {
    const unsigned char lead = static_cast<unsigned char>(name[i]);
    const size_t n = lead < 0x80         ? 1
                     : (lead >> 5) == 6  ? 2
                     : (lead >> 4) == 14 ? 3
                     : (lead >> 3) == 30 ? 4
                                         : 0;
    if (n == 0 || i + n > name.size()) return ERROR_INVALID_NAME;
    for (size_t k = 1; k < n; ++k) {
      if ((static_cast<unsigned char>(name[i + k]) & 0xC0) != 0x80) {
        return ERROR_INVALID_NAME;
      }
    }
    i += n;
  }
  return 0;
}

HANDLE open_named(LPCSTR path, DWORD access, DWORD share_mode,
                  DWORD disposition, DWORD attributes) {
  const bool link_itself = (attributes & FILE_FLAG_OPEN_REPARSE_POINT) &&
                           the_state.links.count(path);
  const std::string name = link_itself ? std::string(path) : resolve(path);
  // A chain of links too long to follow.
  if (!link_itself && the_state.links.count(name)) {
    return no_handle(ERROR_PATH_NOT_FOUND);
  }
  OpenFile file;
  file.name = name;
  file.readable = (access & GENERIC_READ) != 0;
  file.writable = (access & GENERIC_WRITE) != 0;
  file.share = share_mode;
  file.device = the_state.devices.count(name) != 0;
  file.link_itself = link_itself;
  if (!sharing_allows(name, file.readable, file.writable, share_mode)) {
    return no_handle(ERROR_SHARING_VIOLATION);
  }
  const bool exists =
      link_itself || file.device || the_state.files.count(name) != 0;
  if (file.writable && the_state.read_only.count(name)) {
    return no_handle(ERROR_ACCESS_DENIED);
  }
  // A reader holding the file shares reading only.
  const auto held = the_state.held.find(name);
  if (file.writable && held != the_state.held.end() && held->second > 0) {
    return no_handle(ERROR_SHARING_VIOLATION);
  }
  const DWORD closed = closed_folder_error(name);
  DWORD error = 0;
  switch (disposition) {
    case CREATE_NEW:
      if (name_taken(path)) return no_handle(ERROR_FILE_EXISTS);
      if (closed != 0) return no_handle(closed);
      if (name_error(name) != 0) return no_handle(name_error(name));
      the_state.files[name];
      // What a plain create gives a file, until given another's.
      the_state.identities[name] = "new";
      break;
    case OPEN_EXISTING:
      if (!exists) return no_handle(ERROR_FILE_NOT_FOUND);
      break;
    case CREATE_ALWAYS:
    case OPEN_ALWAYS:
      if (!exists && closed != 0) return no_handle(closed);
      if (exists) error = ERROR_ALREADY_EXISTS;
      if (!file.device) the_state.files[name];
      if (!file.device && disposition == CREATE_ALWAYS) {
        the_state.files[name].clear();
      }
      break;
    default:
      return no_handle(ERROR_GEN_FAILURE);
  }
  last_error = error;
  const uintptr_t handle = next_handle++;
  open_files[handle] = file;
  ++the_state.open_handles;
  return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share_mode,
                          LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD attributes, HANDLE) {
  if (enter(CALL_CREATE_FILE, nullptr, path) != nullptr) {
    return INVALID_HANDLE_VALUE;
  }
  return open_named(path, access, share_mode, disposition, attributes);
}

HANDLE platform_create_private(LPCSTR path, const PlatformOwner*) {
  if (enter(CALL_CREATE_PRIVATE, nullptr, path) != nullptr) {
    return INVALID_HANDLE_VALUE;
  }
  const HANDLE handle =
      open_named(path, GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
  if (handle != INVALID_HANDLE_VALUE) {
    the_state.identities[file_of(handle)->name] = "private";
  }
  return handle;
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
  if (enter(CALL_PERFORMANCE_COUNTER) != nullptr) return FALSE;
  count->QuadPart = counter++;
  return TRUE;
}

DWORD WINAPI GetFileType(HANDLE handle) {
  if (enter(CALL_GET_FILE_TYPE, handle) != nullptr) return FILE_TYPE_UNKNOWN;
  if (std_stream(handle) != nullptr) return FILE_TYPE_CHAR;
  const OpenFile* file = file_of(handle);
  if (file == nullptr) return FILE_TYPE_UNKNOWN;
  return file->device ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
}

namespace {

BOOL file_information(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION info) {
  const OpenFile* file = file_of(handle);
  // Devices, like the console, have no file information.
  if (file == nullptr || file->device) return fail_with(ERROR_GEN_FAILURE);
  std::memset(info, 0, sizeof *info);
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  if (file->link_itself) attributes = FILE_ATTRIBUTE_REPARSE_POINT;
  if (the_state.read_only.count(file->name)) {
    attributes = FILE_ATTRIBUTE_READONLY;
  }
  info->dwFileAttributes = attributes;
  info->dwVolumeSerialNumber = 1;
  const size_t id = std::hash<std::string>()(file->name);
  info->nFileIndexHigh = static_cast<DWORD>(id >> 16 >> 16);
  info->nFileIndexLow = static_cast<DWORD>(id);
  info->nNumberOfLinks = 1;
  if (the_state.files.count(file->name)) {
    info->nFileSizeLow =
        static_cast<DWORD>(the_state.files.at(file->name).size());
  }
  return TRUE;
}

}  // namespace

BOOL WINAPI GetFileInformationByHandle(HANDLE handle,
                                       LPBY_HANDLE_FILE_INFORMATION info) {
  if (enter(CALL_GET_FILE_INFO, handle) != nullptr) return FALSE;
  return file_information(handle, info);
}

DWORD platform_file_information(HANDLE handle,
                                LPBY_HANDLE_FILE_INFORMATION info,
                                PlatformOwner* owner) {
  if (enter(CALL_FILE_INFORMATION, handle) != nullptr) return FILE_TYPE_UNKNOWN;
  const OpenFile* file = file_of(handle);
  if (file != nullptr && file->device) return FILE_TYPE_CHAR;
  if (!file_information(handle, info)) return FILE_TYPE_UNKNOWN;
  if (owner != nullptr) {
    const auto whose = the_state.identities.find(file->name);
    owners.push_back(whose != the_state.identities.end() ? whose->second
                                                         : file->name);
    owner->user = static_cast<DWORD>(owners.size() - 1);
    owner->access_list_length = the_state.unreadable_owners.count(file->name)
                                    ? PLATFORM_ACCESS_LIST_UNKNOWN
                                    : 0;
  }
  return FILE_TYPE_DISK;
}

BOOL platform_may_write(HANDLE handle, const BY_HANDLE_FILE_INFORMATION*) {
  if (enter(CALL_MAY_WRITE, handle) != nullptr) return FALSE;
  const OpenFile* file = file_of(handle);
  if (file == nullptr) return fail_with(ERROR_GEN_FAILURE);
  return the_state.read_only.count(file->name) == 0;
}

BOOL platform_folder_keeps_names(LPCSTR path) {
  if (enter(CALL_FOLDER_KEEPS_NAMES, nullptr, path) != nullptr) return FALSE;
  const std::string folder(path);
  return the_state.append_only_folders.count(folder == "." ? "" : folder + "/");
}

void platform_defer_interruptions(BOOL defer) {
  enter(CALL_DEFER_INTERRUPTIONS);
  deferred = defer != 0;
  if (!deferred && interrupt_pending) die_interrupted();
}

void platform_prefer_huge_pages(LPVOID, SIZE_T) { enter(CALL_HUGE_PAGES); }

BOOL WINAPI SetEndOfFile(HANDLE handle) {
  if (enter(CALL_SET_END_OF_FILE, handle) != nullptr) return FALSE;
  OpenFile* file = file_of(handle);
  if (file == nullptr || !file->writable) return fail_with(ERROR_ACCESS_DENIED);
  if (!file->device) the_state.files[file->name].resize(file->position);
  return TRUE;
}

DWORD WINAPI GetLastError(void) {
  enter(CALL_GET_LAST_ERROR);
  return last_error;
}

void WINAPI Sleep(DWORD) { enter(CALL_SLEEP); }

BOOL platform_keep_identity(HANDLE handle, const PlatformOwner* like) {
  if (enter(CALL_KEEP_IDENTITY, handle) != nullptr) return FALSE;
  const OpenFile* file = file_of(handle);
  if (file == nullptr || like->user >= owners.size()) {
    return fail_with(ERROR_GEN_FAILURE);
  }
  the_state.identities[file->name] = owners[like->user];
  return TRUE;
}

// One run at a time: there is never another writer to wait for.
BOOL platform_write_alone(HANDLE handle) {
  if (enter(CALL_WRITE_ALONE, handle) != nullptr) return FALSE;
  return file_of(handle) != nullptr ? TRUE : fail_with(ERROR_GEN_FAILURE);
}

DWORD platform_link_target(HANDLE handle, LPSTR path, DWORD size) {
  if (enter(CALL_LINK_TARGET, handle) != nullptr) return 0;
  const OpenFile* file = file_of(handle);
  if (file == nullptr || !file->link_itself) return 0;
  const std::string& text = the_state.links.at(file->name);
  if (text.size() >= size) return 0;
  std::memcpy(path, text.c_str(), text.size() + 1);
  return static_cast<DWORD>(text.size());
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE handle, LPSTR path, DWORD size,
                                       DWORD) {
  if (enter(CALL_GET_FINAL_PATH, handle) != nullptr) return 0;
  const OpenFile* file = file_of(handle);
  if (file == nullptr) return fail_with(ERROR_GEN_FAILURE);
  std::string name = file->name;
  if (the_state.stale_final_paths > 0) {
    --the_state.stale_final_paths;
    name = the_state.stale_final_name;
  }
  const DWORD n = static_cast<DWORD>(name.size());
  if (n >= size) return n + 1;  // the size needed, terminator included
  std::memcpy(path, name.c_str(), n + 1);
  return n;
}

DWORD WINAPI GetCurrentProcessId(void) {
  enter(CALL_GET_PROCESS_ID);
  return PROCESS_ID;
}

DWORD WINAPI SetFilePointer(HANDLE handle, LONG distance, PLONG, DWORD method) {
  if (enter(CALL_SET_FILE_POINTER, handle) != nullptr) {
    return INVALID_SET_FILE_POINTER;
  }
  OpenFile* file = file_of(handle);
  if (file == nullptr) return INVALID_SET_FILE_POINTER;
  if (file->device) return 0;
  const int64_t size = static_cast<int64_t>(the_state.files[file->name].size());
  int64_t base = 0;
  if (method == FILE_CURRENT) base = file->position;
  if (method == FILE_END) base = size;
  const int64_t position = base + distance;
  if (position < 0) return INVALID_SET_FILE_POINTER;
  file->position = static_cast<uint32_t>(position);
  return file->position;
}

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD want, LPDWORD got,
                     LPOVERLAPPED) {
  const Fault* fault = enter(CALL_READ_FILE, handle, "", want);
  *got = 0;
  uint32_t limit = want;
  if (the_state.read_chunk != 0 && the_state.read_chunk < limit) {
    limit = the_state.read_chunk;
  }
  if (fault != nullptr && fault->amount < limit) limit = fault->amount;

  const unsigned char* source;
  uint32_t available;
  OpenFile* file = file_of(handle);
  std::string* stream = std_stream(handle);
  if (file != nullptr && file->device && file->readable) {
    source = nullptr;
    available = 0;
  } else if (file != nullptr && file->readable) {
    const std::vector<unsigned char>& bytes = the_state.files[file->name];
    source = bytes.data() + std::min<size_t>(file->position, bytes.size());
    available = static_cast<uint32_t>(
        bytes.size() - std::min<size_t>(file->position, bytes.size()));
  } else if (stream != nullptr) {
    source = reinterpret_cast<const unsigned char*>(stream->data());
    available = static_cast<uint32_t>(stream->size());
  } else {
    return FALSE;
  }
  const uint32_t n = std::min(limit, available);
  if (n != 0) std::memcpy(buffer, source, n);
  if (file != nullptr) {
    file->position += n;
  } else {
    stream->erase(0, n);
  }
  *got = n;
  return fault != nullptr && fault->kind == FaultKind::fail ? FALSE : TRUE;
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD length,
                      LPDWORD accepted, LPOVERLAPPED) {
  const Fault* fault = enter(CALL_WRITE_FILE, handle, "", length);
  *accepted = 0;
  if (fault != nullptr && fault->kind == FaultKind::fail) return FALSE;
  uint32_t n = length;
  if (fault != nullptr && fault->amount < n) n = fault->amount;
  const char* bytes = static_cast<const char*>(buffer);
  if (the_state.keep_log) the_state.log.back().data.assign(bytes, n);

  OpenFile* file = file_of(handle);
  std::string* stream = std_stream(handle);
  if (file != nullptr && file->writable && file->device) {
    the_state.devices[file->name].append(bytes, n);
  } else if (file != nullptr && file->writable) {
    std::vector<unsigned char>& contents = the_state.files[file->name];
    if (contents.size() < file->position + n) {
      contents.resize(file->position + n);
    }
    if (n != 0) std::memcpy(contents.data() + file->position, bytes, n);
    file->position += n;
  } else if (stream != nullptr) {
    stream->append(bytes, n);
  } else {
    return FALSE;
  }
  *accepted = n;
  return TRUE;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  const Fault* fault = enter(CALL_CLOSE_HANDLE, handle);
  // Like a POSIX close that reports an error, the handle is gone even when
  // the call fails.
  if (open_files.erase(reinterpret_cast<uintptr_t>(handle)) == 0) return FALSE;
  --the_state.open_handles;
  return fault == nullptr;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  if (enter(CALL_DELETE_FILE, nullptr, path) != nullptr) return FALSE;
  const std::string name(path);
  if (unlink_error(name) != 0) return fail_with(unlink_error(name));
  // A link itself is deleted, never its target; a device never.
  if (the_state.links.erase(name) != 0) return TRUE;
  if (is_open(name)) return fail_with(ERROR_SHARING_VIOLATION);
  if (the_state.files.erase(name) == 0) return fail_with(ERROR_FILE_NOT_FOUND);
  the_state.identities.erase(name);
  return TRUE;
}

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  if (enter(CALL_MOVE_FILE, nullptr, from) != nullptr) return FALSE;
  const std::string source(from), target(to);
  if (!the_state.files.count(source)) return fail_with(ERROR_FILE_NOT_FOUND);
  // Neither may be open (no handle here shares deletion), and a link as
  // the target is itself replaced, as on Windows.
  if (is_open(source) || is_open(target)) {
    return fail_with(ERROR_SHARING_VIOLATION);
  }
  const auto held = the_state.held.find(target);
  if (held != the_state.held.end() && held->second > 0) {
    --held->second;
    return fail_with(ERROR_ACCESS_DENIED);
  }
  if (unlink_error(target) == ERROR_BUSY) return fail_with(ERROR_BUSY);
  if (the_state.devices.count(target) || the_state.read_only.count(target) ||
      unlink_error(target) != 0 || unlink_error(source) != 0) {
    return fail_with(ERROR_ACCESS_DENIED);
  }
  if (name_taken(target) && !(flags & MOVEFILE_REPLACE_EXISTING)) {
    return fail_with(ERROR_ALREADY_EXISTS);
  }
  the_state.links.erase(target);
  the_state.files[target] = std::move(the_state.files[source]);
  the_state.identities[target] = the_state.identities[source];
  if (source != target) {
    the_state.files.erase(source);
    the_state.identities.erase(source);
  }
  return TRUE;
}

}  // extern "C"
