// The calls beyond KERNEL32 that the runtime makes, on Windows: KERNEL32
// itself is the platform there.
#include "platform/platform.h"

#if defined(_MSC_VER)
// The compiler's own, as Windows' headers declare it (cl.exe, clang-cl).
extern "C" long _InterlockedCompareExchange(volatile long* target, long value,
                                            long expected);
#pragma intrinsic(_InterlockedCompareExchange)
#endif

namespace {

// The console handler runs on a thread of its own, beside the main thread,
// which may be inside a rename at that moment. So it does nothing but
// wait until the replacement under way has ended, and from then on no
// other begins; then the default handler ends the process.
enum : long { IDLE, REPLACING, ENDING };
volatile long state = IDLE;
bool handler_installed;

// Puts `to` in state where it holds `from`, ordered against the other
// thread's reads and writes; gives what it held.
long compare_exchange(long from, long to) {
#if defined(_MSC_VER)
  return _InterlockedCompareExchange(&state, to, from);
#else
  __atomic_compare_exchange_n(&state, &from, to, false, __ATOMIC_ACQ_REL,
                              __ATOMIC_ACQUIRE);
  return from;
#endif
}

BOOL CALLBACK on_console_event(DWORD) {
  for (;;) {
    const long seen = compare_exchange(IDLE, ENDING);
    if (seen == IDLE || seen == ENDING) return FALSE;
    Sleep(1);
  }
}

// The attributes a file takes when it is made, and keeps when replaced.
constexpr DWORD CARRIED_ATTRIBUTES =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
    FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

}  // namespace

extern "C" {

DWORD platform_file_information(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info,
                                PlatformOwner* owner) {
  const DWORD type = GetFileType(file);
  if (type != FILE_TYPE_DISK) {
    // A device or pipe has no file information to look at.
    info->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    return type;
  }
  if (!GetFileInformationByHandle(file, info)) return FILE_TYPE_UNKNOWN;
  if (owner != nullptr) {
    owner->mode = info->dwFileAttributes & CARRIED_ATTRIBUTES;
    owner->access_list_length = 0;
  }
  return type;
}

BOOL platform_may_write(HANDLE, const BY_HANDLE_FILE_INFORMATION* info) {
  return (info->dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// No folder on Windows keeps every name it is given.
BOOL platform_folder_keeps_names(LPCSTR) { return FALSE; }

// The new file is the process's alone through its share mode, and takes
// the old one's attributes as it is made, with no further call.
HANDLE platform_create_private(LPCSTR path, const PlatformOwner* like) {
  const DWORD attributes = like->mode & CARRIED_ATTRIBUTES;
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                     attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

// A file made on Windows takes the access its folder passes on; the owner
// of the file it replaces is not carried over.
BOOL platform_keep_identity(HANDLE, const PlatformOwner*) { return TRUE; }

// A file opened with share mode 0, as every file written is, is the
// process's alone already.
BOOL platform_write_alone(HANDLE) { return TRUE; }

// Reading a link needs the reparse-point control call; a link to nothing
// is left alone instead.
DWORD platform_link_target(HANDLE, LPSTR, DWORD) { return 0; }

void platform_defer_interruptions(BOOL defer) {
  if (!defer) {
    compare_exchange(REPLACING, IDLE);
    return;
  }
  if (!handler_installed) {
    handler_installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
  }
  if (compare_exchange(IDLE, REPLACING) != IDLE) {
    // The process is ending: begin nothing that it would have to undo.
    for (;;) Sleep(INFINITE);
  }
}

void platform_prefer_huge_pages(LPVOID, SIZE_T) {}

// Code generators may call memset for a large zero initialisation (clang
// and cl.exe do), which a C runtime would supply.
void* memset(void* block, int value, SIZE_T length) {
  unsigned char* p = static_cast<unsigned char*>(block);
  while (length-- != 0) *p++ = static_cast<unsigned char>(value);
  return block;
}

}  // extern "C"
