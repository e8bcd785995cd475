// The calls beyond KERNEL32 that the runtime makes, on Windows: KERNEL32
// itself is the platform there.
#include "platform/platform.h"

namespace {

// What an interruption undoes (platform_on_interrupt).
const char* volatile interrupt_path;
HANDLE volatile interrupt_file = INVALID_HANDLE_VALUE;
volatile BOOL interrupt_empty;
bool handler_installed;

// Runs on a thread of its own when Ctrl+C, Ctrl+Break or closing the
// console would end the process; the default handler after it ends it.
BOOL WINAPI on_console_event(DWORD) {
  const char* path = interrupt_path;
  const HANDLE file = interrupt_file;
  if (path != nullptr && file != INVALID_HANDLE_VALUE) {
    if (interrupt_empty && SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0) {
      SetEndOfFile(file);
    }
    // A file open without shared deletion cannot be deleted.
    CloseHandle(file);
    DeleteFileA(path);
  }
  return FALSE;
}

}  // namespace

extern "C" {

// A file made on Windows takes the access its folder passes on; the owner
// of the file it replaces is not carried over.
BOOL platform_keep_identity(HANDLE, LPCSTR) { return TRUE; }

// Reading a link needs the reparse-point control call; a link to nothing
// is left alone instead.
DWORD platform_link_target(HANDLE, LPSTR, DWORD) { return 0; }

void platform_on_interrupt(LPCSTR path, HANDLE file, BOOL empty_if_kept) {
  if (!handler_installed && path != nullptr) {
    handler_installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
  }
  interrupt_path = nullptr;
  interrupt_file = file;
  interrupt_empty = empty_if_kept;
  interrupt_path = path;
}

}  // extern "C"
