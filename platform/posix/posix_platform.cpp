// The KERNEL32 subset on POSIX, and the process entry of the native program.
//
// A handle is a file descriptor. Reads and writes follow Win32 on a disk
// file: a read fills the request unless the file ends, a write takes all it
// is given unless it fails. Failures come back as return values, never as
// signals, as on Win32: a write to a closed pipe or past the file-size
// limit is a failed write.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/command_line.h"
#include "runtime/start.h"

namespace {

char* command_line;
char empty_line[] = "";
int heap_token;

int fd_of(HANDLE handle) {
  return static_cast<int>(reinterpret_cast<intptr_t>(handle));
}

HANDLE handle_of(int fd) {
  return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

// Large blocks get memory of their own, aligned for transparent huge
// pages: the work buffer then fills with a couple of page faults instead
// of a thousand, which on a virtual machine is most of a 4 MiB run. Only a
// read of that much asks for them: a huge page is cleared whole at its
// first touch, which costs a small image more than its few small pages.
const size_t HUGE_PAGE = 2u << 20;
const off_t HUGE_READ = HUGE_PAGE / 4;
const int LARGE_BLOCKS = 8;
struct LargeBlock {
  void* start;
  size_t length;
  void* mapped;  // the whole mapping, a huge page longer
};
LargeBlock large_blocks[LARGE_BLOCKS];

void* alloc_large(size_t bytes) {
  int slot = 0;
  while (slot < LARGE_BLOCKS && large_blocks[slot].start != nullptr) ++slot;
  if (slot == LARGE_BLOCKS) return nullptr;
  const size_t length = (bytes + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
  char* raw = static_cast<char*>(mmap(nullptr, length + HUGE_PAGE,
                                      PROT_READ | PROT_WRITE,
                                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (raw == MAP_FAILED) return nullptr;
  // The slack around the aligned block stays mapped and untouched: it
  // costs address space only, and trimming it two system calls.
  char* start = reinterpret_cast<char*>(
      (reinterpret_cast<uintptr_t>(raw) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
  large_blocks[slot] = {start, length, raw};
  return start;
}

bool free_large(void* block) {
  for (LargeBlock& large : large_blocks) {
    if (large.start == block && block != nullptr) {
      munmap(large.mapped, large.length + HUGE_PAGE);
      large = {nullptr, 0, nullptr};
      return true;
    }
  }
  return false;
}

// Small blocks come from a static arena and stay until the process ends: a
// run makes a handful, and a C library's allocator may spend system calls
// mapping and giving back pages for each. When the arena is used up the C
// library's allocator serves the rest.
alignas(16) char arena[64 << 10];
size_t arena_used;

void* alloc_small(size_t bytes) {
  const size_t rounded = (bytes + 15) & ~static_cast<size_t>(15);
  if (rounded > sizeof arena - arena_used) return nullptr;
  void* block = arena + arena_used;
  arena_used += rounded;
  return block;
}

bool is_small(const void* block) {
  const char* at = static_cast<const char*>(block);
  return at >= arena && at < arena + sizeof arena;
}

// Before a large read from a regular file (st) into a large block: huge
// pages where the file holds enough to fill them.
void hint_huge_pages(const struct stat& st, void* buffer, size_t length) {
#ifdef MADV_HUGEPAGE  // Linux only
  if (length < HUGE_PAGE || st.st_size < HUGE_READ) return;
  for (const LargeBlock& large : large_blocks) {
    if (large.start == buffer) {
      madvise(large.start, large.length, MADV_HUGEPAGE);  // a hint only
    }
  }
#else
  (void)st;
  (void)buffer;
  (void)length;
#endif
}

void write_all(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t n = write(fd, bytes, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    length -= static_cast<size_t>(n);
  }
}

// The error of the last call that failed, as Win32 would name it.
DWORD last_error;

BOOL fail_with(DWORD error) {
  last_error = error;
  return FALSE;
}

DWORD error_of(int err) {
  switch (err) {
    case ENOENT:
      return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ERROR_ACCESS_DENIED;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EROFS:
      return ERROR_WRITE_PROTECT;
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EFBIG:
      return ERROR_HANDLE_DISK_FULL;
    case EEXIST:
      return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

BOOL fail_errno() { return fail_with(error_of(errno)); }

// Whether this process may write the file, as the access check of open()
// would decide (access lists, a read-only or immutable file system too);
// Win32 shows the answer as the read-only attribute. Where the kernel
// cannot check a descriptor, the permission bits decide.
bool may_write(int fd, const struct stat& st) {
#if defined(AT_EMPTY_PATH) && defined(AT_EACCESS)
  if (faccessat(fd, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
#else
  (void)fd;
#endif
  const uid_t user = geteuid();
  if (user == 0) return true;
  if (st.st_uid == user) return (st.st_mode & S_IWUSR) != 0;
  bool member = st.st_gid == getegid();
  gid_t groups[64];
  const int n = getgroups(64, groups);
  for (int i = 0; i < n && !member; ++i) member = groups[i] == st.st_gid;
  return (st.st_mode & (member ? S_IWGRP : S_IWOTH)) != 0;
}

// What an interruption undoes (platform_on_interrupt).
const char* volatile interrupt_path;
volatile int interrupt_fd = -1;
volatile sig_atomic_t interrupt_empty;

void on_interrupt(int sig) {
  const char* path = interrupt_path;
  if (path != nullptr && unlink(path) != 0 && interrupt_empty &&
      interrupt_fd >= 0) {
    (void)!ftruncate(interrupt_fd, 0);
  }
  // The handler was reset on entry and the signal is not blocked: the
  // process now dies of it, so the caller sees how it ended.
  raise(sig);
}

void install_signal_handlers() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  // Every signal that ends a process by default and may come from outside
  // it; those of faults in the program itself (SEGV, BUS...) are not here.
  const int endings[] = {
    SIGHUP,
    SIGINT,
    SIGQUIT,
    SIGTERM,
    SIGUSR1,
    SIGUSR2,
    SIGALRM,
    SIGVTALRM,
    SIGPROF,
    SIGXCPU,
#if defined(__linux__)  // elsewhere these are ignored by default
    SIGIO,
    SIGPWR,
#endif
  };
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  // Blocked while the handlers go in, so that a signal the caller chose to
  // ignore (nohup, a background job) is never handled in between: it stays
  // ignored, and one call per signal is enough.
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  for (int sig : endings) {
    struct sigaction old;
    if (sigaction(sig, &action, &old) == 0 && old.sa_handler == SIG_IGN) {
      sigaction(sig, &old, nullptr);
    }
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  install_signal_handlers();
  switch (join_arguments(argc, argv, &command_line)) {
    case JOIN_OK:
      break;
    case JOIN_NO_MEMORY:
      // With no line the run sees no arguments and prints its usage.
      command_line = empty_line;
      break;
    case JOIN_HAS_QUOTE:
      static const char message[] =
          "argument error: a double quote cannot be passed in an argument\r\n";
      write_all(1, message, sizeof message - 1);
      return 1;
  }
  start();
}

extern "C" {

LPSTR WINAPI GetCommandLineA(void) {
  return command_line != nullptr ? command_line : empty_line;
}

HANDLE WINAPI GetStdHandle(DWORD std_handle) {
  switch (std_handle) {
    case STD_INPUT_HANDLE:
      return handle_of(0);
    case STD_OUTPUT_HANDLE:
      return handle_of(1);
    case STD_ERROR_HANDLE:
      return handle_of(2);
    default:
      return INVALID_HANDLE_VALUE;
  }
}

void WINAPI ExitProcess(UINT exit_code) { _exit(static_cast<int>(exit_code)); }

HANDLE WINAPI GetProcessHeap(void) { return &heap_token; }

LPVOID WINAPI HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
  void* block = bytes >= HUGE_PAGE ? alloc_large(bytes) : alloc_small(bytes);
  return block != nullptr ? block : malloc(bytes != 0 ? bytes : 1);
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID block) {
  if (!is_small(block) && !free_large(block)) free(block);
  return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD,
                          LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD attributes, HANDLE) {
  // Share modes are not emulated: any number of readers may share a file,
  // and a writer that must be alone creates a file of its own.
  // No O_CLOEXEC: the process never starts another program, and some C
  // libraries spend a system call on it.
  int flags = O_NOCTTY;
  const DWORD both = GENERIC_READ | GENERIC_WRITE;
  if ((access & both) == both) {
    flags |= O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags |= O_WRONLY;
  } else if (access & GENERIC_READ) {
    flags |= O_RDONLY;
  } else {
    // No access: the file is only looked at, never read, so a FIFO must
    // not wait for a writer.
#ifdef O_PATH
    flags |= O_PATH;
#else
    flags |= O_RDONLY | O_NONBLOCK;
#endif
  }
  // The link itself, not what it leads to.
  if (attributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
  // A file made exclusively is the process's alone until it is given its
  // identity (platform_keep_identity).
  mode_t mode = 0666;
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      mode = 0600;
      break;
    case CREATE_ALWAYS:  // truncated below, once the file is ours
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case OPEN_EXISTING:
      break;
    default:
      fail_with(ERROR_GEN_FAILURE);
      return INVALID_HANDLE_VALUE;
  }

  int fd;
  do {
    fd = open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    fail_errno();
    return INVALID_HANDLE_VALUE;
  }
#ifdef O_PATH
  // A link opened as itself is what it is, not a file to be written.
  if ((flags & O_PATH) && (flags & O_NOFOLLOW)) return handle_of(fd);
#endif
  // Made just now, so a new empty file.
  if (disposition == CREATE_NEW) return handle_of(fd);
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) fail_errno();
  if (ok && S_ISDIR(st.st_mode) && access != 0)
    ok = fail_with(ERROR_ACCESS_DENIED);
  if (ok && disposition == CREATE_ALWAYS && S_ISREG(st.st_mode) &&
      st.st_size != 0 && ftruncate(fd, 0) != 0) {
    ok = fail_errno();
  }
  if (!ok) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return handle_of(fd);
}

DWORD WINAPI GetFileType(HANDLE file) {
  struct stat st;
  if (fstat(fd_of(file), &st) != 0) return FILE_TYPE_UNKNOWN;
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) return FILE_TYPE_DISK;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_CHAR;  // terminals and other devices, block ones too
}

DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size,
                                       DWORD) {
  // Static, not on the stack: a run may be given very little of it.
  static char found[PATH_MAX];
  ssize_t n = -1;
#if defined(__linux__)
  char link[32];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd_of(file));
  n = readlink(link, found, sizeof found);
#elif defined(F_GETPATH)
  if (fcntl(fd_of(file), F_GETPATH, found) == 0) n = strlen(found);
#endif
  if (n <= 0 || static_cast<size_t>(n) >= sizeof found) {
    fail_with(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  found[n] = 0;
  // The name must still lead to this very file: not a pipe's pseudo-name,
  // nor the old name of a file renamed or deleted meanwhile.
  struct stat by_handle, by_name;
  if (found[0] != '/' || fstat(fd_of(file), &by_handle) != 0 ||
      stat(found, &by_name) != 0 || by_handle.st_dev != by_name.st_dev ||
      by_handle.st_ino != by_name.st_ino) {
    fail_with(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  if (static_cast<DWORD>(n) >= size) return static_cast<DWORD>(n) + 1;
  memcpy(path, found, static_cast<size_t>(n) + 1);
  return static_cast<DWORD>(n);
}

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distance_high,
                            DWORD method) {
  int whence;
  switch (method) {
    case FILE_BEGIN:
      whence = SEEK_SET;
      break;
    case FILE_CURRENT:
      whence = SEEK_CUR;
      break;
    case FILE_END:
      whence = SEEK_END;
      break;
    default:
      return INVALID_SET_FILE_POINTER;
  }
  off_t offset = distance;
  if (distance_high != nullptr) {
    offset = static_cast<off_t>(
        static_cast<uint64_t>(static_cast<uint32_t>(*distance_high)) << 32 |
        static_cast<uint32_t>(distance));
  }
  const off_t position = lseek(fd_of(file), offset, whence);
  if (position < 0) return INVALID_SET_FILE_POINTER;
  if (distance_high != nullptr) {
    *distance_high = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
  }
  return static_cast<DWORD>(position);
}

BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read,
                     LPDWORD bytes_read, LPOVERLAPPED) {
  const int fd = fd_of(file);
  char* bytes = static_cast<char*>(buffer);
  struct stat st;
  const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (regular) hint_huge_pages(st, buffer, bytes_to_read);
  DWORD done = 0;
  BOOL ok = TRUE;
  while (done < bytes_to_read) {
    const ssize_t n = read(fd, bytes + done, bytes_to_read - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ok = FALSE;
      break;
    }
    if (n == 0) break;
    done += static_cast<DWORD>(n);
    // Pipes and terminals deliver in pieces, so go on gathering; a short
    // read of a regular file is its end, and asking again would only cost
    // a system call.
    if (done < bytes_to_read && regular) break;
  }
  *bytes_read = done;
  return ok;
}

BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write,
                      LPDWORD bytes_written, LPOVERLAPPED) {
  const int fd = fd_of(file);
  const char* bytes = static_cast<const char*>(buffer);
  DWORD done = 0;
  BOOL ok = TRUE;
  while (done < bytes_to_write) {
    const ssize_t n = write(fd, bytes + done, bytes_to_write - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = FALSE;
      break;
    }
    done += static_cast<DWORD>(n);
  }
  *bytes_written = done;
  return ok;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  // Linux releases the descriptor even when close reports EINTR.
  return close(fd_of(object)) == 0 || errno == EINTR;
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
  // Only files are deleted, as on Windows: never a device node, a pipe or
  // a link such as /dev/stdout that a failed write may have been aimed at.
  struct stat st;
  if (lstat(path, &st) != 0) return fail_errno();
  if (!S_ISREG(st.st_mode)) return fail_with(ERROR_ACCESS_DENIED);
  return unlink(path) == 0 ? TRUE : fail_errno();
}

BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
  struct stat st;
  if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 && lstat(to, &st) == 0) {
    return fail_with(ERROR_ALREADY_EXISTS);
  }
  return rename(from, to) == 0 ? TRUE : fail_errno();
}

DWORD WINAPI GetLastError(void) { return last_error; }

BOOL WINAPI GetFileInformationByHandle(HANDLE file,
                                       LPBY_HANDLE_FILE_INFORMATION info) {
  struct stat st;
  if (fstat(fd_of(file), &st) != 0) return fail_errno();
  memset(info, 0, sizeof *info);
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(st.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  if (S_ISREG(st.st_mode) && !may_write(fd_of(file), st)) {
    attributes |= FILE_ATTRIBUTE_READONLY;
  }
  info->dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
  const uint64_t device = static_cast<uint64_t>(st.st_dev);
  const uint64_t inode = static_cast<uint64_t>(st.st_ino);
  info->dwVolumeSerialNumber = static_cast<DWORD>(device ^ (device >> 32));
  info->nFileIndexHigh = static_cast<DWORD>(inode >> 32);
  info->nFileIndexLow = static_cast<DWORD>(inode);
  info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  info->nFileSizeLow = static_cast<DWORD>(size);
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE file) {
  const int fd = fd_of(file);
  const off_t here = lseek(fd, 0, SEEK_CUR);
  if (here < 0 || ftruncate(fd, here) != 0) return fail_errno();
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  struct timespec wait = {static_cast<time_t>(milliseconds / 1000),
                          static_cast<long>(milliseconds % 1000) * 1000000};
  while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

BOOL platform_keep_identity(HANDLE file, LPCSTR like) {
  const int fd = fd_of(file);
  if (like == nullptr) {
    // The mode a new file gets: 0666 less the umask, which can only be
    // read by setting it (one thread, so nothing else sees the moment).
    const mode_t mask = umask(0);
    umask(mask);
    return fchmod(fd, 0666 & ~mask) == 0 ? TRUE : fail_errno();
  }
  struct stat old;
  if (stat(like, &old) != 0) return fail_errno();
  // Root keeps both; a member of the file's group keeps the group, and the
  // owner is kept where it is the user's own.
  const bool same = fchown(fd, old.st_uid, old.st_gid) == 0 ||
                    (fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0 &&
                     geteuid() == old.st_uid);
  // setuid, setgid and sticky belong to an owner and group; they are kept
  // only with both, as a copy by anybody else must not gain them.
  const mode_t mode = old.st_mode & (same ? 07777 : 0777);
  return fchmod(fd, mode) == 0 ? TRUE : fail_errno();
}

DWORD platform_link_target(HANDLE link, LPSTR path, DWORD size) {
  // An O_PATH descriptor of the link itself reads with an empty name.
  const ssize_t n = readlinkat(fd_of(link), "", path, size);
  if (n <= 0 || static_cast<DWORD>(n) >= size) {
    fail_with(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  path[n] = 0;
  return static_cast<DWORD>(n);
}

void platform_on_interrupt(LPCSTR path, HANDLE file, BOOL empty_if_kept) {
  interrupt_path = nullptr;
  interrupt_fd =
      path != nullptr && file != INVALID_HANDLE_VALUE ? fd_of(file) : -1;
  interrupt_empty = empty_if_kept;
  interrupt_path = path;
}

}  // extern "C"
