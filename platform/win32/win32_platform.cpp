// The calls beyond KERNEL32 that the runtime makes, on Windows: KERNEL32
// itself is the platform there.
#include "platform/platform.h"

namespace {

// The console handler runs on a thread of its own, beside the main thread,
// which may be inside a rename at that moment: deleting the file beside
// then could delete the output it has just become. So nothing is cleaned
// up from there; the handler waits until the replacement under way has
// ended, and from then on no other begins.
enum : LONG { IDLE, REPLACING, ENDING };
volatile LONG state = IDLE;
bool holding;  // the main thread's view: it set REPLACING
bool handler_installed;

BOOL WINAPI on_console_event(DWORD) {
  for (;;) {
    LONG seen = IDLE;
    if (__atomic_compare_exchange_n(&state, &seen, ENDING, false,
                                    __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE) ||
        seen == ENDING) {
      return FALSE;  // the default handler ends the process
    }
    Sleep(1);
  }
}

}  // namespace

extern "C" {

// A file made on Windows takes the access its folder passes on; the owner
// of the file it replaces is not carried over.
BOOL platform_keep_identity(HANDLE, LPCSTR) { return TRUE; }

// Reading a link needs the reparse-point control call; a link to nothing
// is left alone instead.
DWORD platform_link_target(HANDLE, LPSTR, DWORD) { return 0; }

void platform_on_interrupt(LPCSTR path, HANDLE, BOOL) {
  if (path == nullptr) {
    if (holding) __atomic_store_n(&state, IDLE, __ATOMIC_RELEASE);
    holding = false;
    return;
  }
  if (holding) return;
  if (!handler_installed) {
    handler_installed = SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
  }
  LONG seen = IDLE;
  if (!__atomic_compare_exchange_n(&state, &seen, REPLACING, false,
                                   __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
    // The process is ending: begin nothing that it would have to undo.
    for (;;) Sleep(INFINITE);
  }
  holding = true;
}

}  // extern "C"
