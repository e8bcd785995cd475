// The KERNEL32 subset on POSIX, and the process entry of the native program.
//
// A handle is a file descriptor. Reads and writes follow Win32 on a disk
// file: a read fills the request unless the file ends, a write takes all it
// is given unless it fails.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
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
// of a thousand, which on a virtual machine is most of a 4 MiB run.
const size_t HUGE_PAGE = 2u << 20;
const int LARGE_BLOCKS = 8;
struct LargeBlock {
  void* start;
  size_t length;
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
  char* start = reinterpret_cast<char*>(
      (reinterpret_cast<uintptr_t>(raw) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
  if (start != raw) munmap(raw, static_cast<size_t>(start - raw));
  if (start + length != raw + length + HUGE_PAGE) {
    munmap(start + length, static_cast<size_t>(raw + HUGE_PAGE - start));
  }
  madvise(start, length, MADV_HUGEPAGE);  // a hint; fine if refused
  large_blocks[slot] = {start, length};
  return start;
}

bool free_large(void* block) {
  for (LargeBlock& large : large_blocks) {
    if (large.start == block && block != nullptr) {
      munmap(large.start, large.length);
      large = {nullptr, 0};
      return true;
    }
  }
  return false;
}

bool is_regular_file(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
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

}  // namespace

int main(int argc, char** argv) {
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
  if (bytes >= HUGE_PAGE) {
    void* block = alloc_large(bytes);
    if (block != nullptr) return block;
  }
  return malloc(bytes != 0 ? bytes : 1);
}

BOOL WINAPI HeapFree(HANDLE, DWORD, LPVOID block) {
  if (!free_large(block)) free(block);
  return TRUE;
}

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share_mode,
                          LPSECURITY_ATTRIBUTES, DWORD disposition, DWORD,
                          HANDLE) {
  int flags = O_CLOEXEC | O_NOCTTY;
  const DWORD both = GENERIC_READ | GENERIC_WRITE;
  if ((access & both) == both) {
    flags |= O_RDWR;
  } else if (access & GENERIC_WRITE) {
    flags |= O_WRONLY;
  } else {
    flags |= O_RDONLY;
  }
  switch (disposition) {
    case CREATE_ALWAYS:  // truncated below, once the file is ours
    case OPEN_ALWAYS:
      flags |= O_CREAT;
      break;
    case OPEN_EXISTING:
      break;
    default:
      return INVALID_HANDLE_VALUE;
  }

  int fd;
  do {
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return INVALID_HANDLE_VALUE;

  struct stat st;
  bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  // Share mode 0 asks for exclusive use. POSIX locks are advisory, but two
  // runs of ours on one file still keep out of each other's way.
  if (ok && share_mode == 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ok = errno != EWOULDBLOCK;
  }
  if (ok && disposition == CREATE_ALWAYS && S_ISREG(st.st_mode) &&
      st.st_size != 0) {
    ok = ftruncate(fd, 0) == 0;
  }
  if (!ok) {
    close(fd);
    return INVALID_HANDLE_VALUE;
  }
  return handle_of(fd);
}

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
    if (done < bytes_to_read && is_regular_file(fd)) break;
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
  if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) return FALSE;
  return unlink(path) == 0;
}

}  // extern "C"
