// The calls beyond KERNEL32 that the runtime makes, on Windows: KERNEL32
// itself is the platform there.
#include "platform/platform.h"

namespace {

// The console handler runs on a thread of its own, beside the main thread,
// which may be inside a rename at that moment. So it does nothing but
// wait until the replacement under way has ended, and from then on no
// other begins; then the default handler ends the process.
enum : LONG { IDLE, REPLACING, ENDING };
volatile LONG state = IDLE;
bool handler_installed;

BOOL CALLBACK on_console_event(DWORD) {
  for (;;) {
    LONG seen = IDLE;
    if (__atomic_compare_exchange_n(&state, &seen, ENDING, false,
                                    __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE) ||
        seen == ENDING) {
      return FALSE;
    }
    Sleep(1);
  }
}

}  // namespace

extern "C" {

BOOL platform_file_information(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info,
                               PlatformOwner*) {
  return GetFileInformationByHandle(file, info);
}

BOOL platform_may_write(HANDLE, const BY_HANDLE_FILE_INFORMATION* info) {
  return (info->dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0;
}

// The new file is the process's alone through its share mode.
HANDLE platform_create_private(LPCSTR path) {
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

// A file made on Windows takes the access its folder passes on; the owner
// of the file it replaces is not carried over.
BOOL platform_keep_identity(HANDLE, const PlatformOwner*) { return TRUE; }

// Reading a link needs the reparse-point control call; a link to nothing
// is left alone instead.
DWORD platform_link_target(HANDLE, LPSTR, DWORD) { return 0; }

void platform_defer_interruptions(BOOL defer) {
  if (!defer) {
    __atomic_store_n(&state, IDLE, __ATOMIC_RELEASE);
    return;
  }
  if (!handler_installed) {
    handler_installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
  }
  LONG seen = IDLE;
  if (!__atomic_compare_exchange_n(&state, &seen, REPLACING, false,
                                   __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    // The process is ending: begin nothing that it would have to undo.
    for (;;) Sleep(INFINITE);
  }
}

void platform_prefer_huge_pages(LPVOID, SIZE_T) {}

}  // extern "C"
