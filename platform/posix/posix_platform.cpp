// The KERNEL32 subset on POSIX, and the process entry of the native program.
//
// A handle is a file descriptor. Each call translates one KERNEL32 call,
// its flags and its errors, and decides nothing: the decisions are the
// runtime's, or those of the calls of the platform layer's own at the end,
// each named for the one it makes. Reads and writes follow Win32 on a disk
// file: a read fills the request unless the file ends, a write takes all
// it is given unless it fails. Failures come back as return values, never
// as signals: a write to a closed pipe or past the file-size limit fails.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <sys/xattr.h>
#endif
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
// of a thousand, which on a virtual machine is most of a 4 MiB run, once
// the runtime asks for them (platform_prefer_huge_pages).
const size_t HUGE_PAGE = 2u << 20;
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
alignas(16) char arena[128 << 10];
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
      return ERROR_PATH_NOT_FOUND;
    case ELOOP:
      return ERROR_CANT_RESOLVE_FILENAME;
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
    case EBUSY:
      return ERROR_BUSY;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    default:
      return ERROR_GEN_FAILURE;
  }
}

BOOL fail_errno() { return fail_with(error_of(errno)); }

// Failures of writes come back as results, never as signals, as on
// Win32: a write to a closed pipe, or past the file-size limit, fails. The
// two are blocked rather than ignored, so that a caller's own settings
// stay as they were; one left pending is never delivered, as the process
// never unblocks it.
void block_write_signals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  sigaddset(&set, SIGXFSZ);
  sigprocmask(SIG_BLOCK, &set, nullptr);
}

DWORD type_of(const struct stat& st) {
  // A link opened as itself is a file system object, as on Windows.
  if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode)) {
    return FILE_TYPE_DISK;
  }
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return FILE_TYPE_PIPE;
  return FILE_TYPE_CHAR;  // terminals and other devices, block ones too
}

void fill_information(const struct stat& st,
                      LPBY_HANDLE_FILE_INFORMATION info) {
  memset(info, 0, sizeof *info);
  DWORD attributes = 0;
  if (S_ISDIR(st.st_mode)) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (S_ISLNK(st.st_mode)) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
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
}

#if defined(__linux__)
// An access list as Linux keeps it in system.posix_acl_access: a version
// word, then entries of a tag, permissions and an id, little-endian.
const char ACCESS_LIST[] = "system.posix_acl_access";
enum : unsigned {
  ACL_USER_OBJ = 0x01,
  ACL_USER = 0x02,
  ACL_GROUP_OBJ = 0x04,
  ACL_GROUP = 0x08,
  ACL_MASK = 0x10,
  ACL_OTHER = 0x20
};

unsigned char* put_le(unsigned char* at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    *at++ = static_cast<unsigned char>(value >> (8 * i));
  return at;
}

// The access list that says no more than `mode` does; setting it makes
// the file's access its mode alone, whatever it inherited.
size_t minimal_list(mode_t mode, unsigned char* out) {
  unsigned char* at = put_le(out, 2, 4);
  const unsigned tags[] = {ACL_USER_OBJ, ACL_GROUP_OBJ, ACL_OTHER};
  for (int i = 0; i < 3; ++i) {
    at = put_le(at, tags[i], 2);
    at = put_le(at, (mode >> (6 - 3 * i)) & 7, 2);
    at = put_le(at, 0xFFFFFFFFu, 4);
  }
  return static_cast<size_t>(at - out);
}

// The least any named user or group of `list` is given (7 where it names
// none), and in *group what the owning group is given through the mask.
mode_t least_named(const unsigned char* list, size_t length, mode_t* group) {
  unsigned group_entry = 7, mask = 7, named = 0xF;  // 0xF: none named
  for (size_t at = 4; at + 8 <= length; at += 8) {
    const unsigned tag = list[at] | list[at + 1] << 8;
    const unsigned permissions = (list[at + 2] | list[at + 3] << 8) & 7;
    if (tag == ACL_GROUP_OBJ) group_entry = permissions;
    if (tag == ACL_MASK) mask = permissions;
    if (tag == ACL_USER || tag == ACL_GROUP) named &= permissions;
  }
  *group = group_entry & mask;
  return named == 0xF ? 7 : named & mask;
}
#endif

// setuid, setgid and sticky belong to an owner and group; they are kept
// only with both, as a copy by anybody else must not gain them, and given
// last, as a write or a change of owner clears them.
BOOL keep_special_bits(int fd, mode_t mode, DWORD old_mode) {
  const mode_t special = static_cast<mode_t>(old_mode) & 07000;
  return special == 0 || fchmod(fd, mode | special) == 0 ? TRUE : fail_errno();
}

// The signal mask before platform_defer_interruptions(TRUE). On Linux it
// is the kernel's own, set directly: the C library keeps a few real-time
// signals of its own out of any mask it sets, and those too must wait.
#if defined(__linux__)
unsigned long long mask_before;
#else
sigset_t mask_before;
#endif

}  // namespace

int main(int argc, char** argv) {
  block_write_signals();
  // How the program takes them is the program's to say (runtime/start.h).
  const ArgumentRules rules = app::argument_rules();
  if (!rules.windows_line) start_with_arguments(argc, argv);
  switch (join_arguments(argc, argv, rules.read, &command_line)) {
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
  // Share modes are not emulated: any number of readers may share a file.
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
  switch (disposition) {
    case CREATE_NEW:
      flags |= O_CREAT | O_EXCL;
      break;
    case CREATE_ALWAYS:
      flags |= O_CREAT | O_TRUNC;
      break;
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
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    fail_errno();
    return INVALID_HANDLE_VALUE;
  }
  return handle_of(fd);
}

DWORD WINAPI GetFileType(HANDLE file) {
  struct stat st;
  if (fstat(fd_of(file), &st) != 0) {
    fail_errno();
    return FILE_TYPE_UNKNOWN;
  }
  return type_of(st);
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
  // A pipe or socket has a pseudo-name, not a path.
  if (n <= 0 || static_cast<size_t>(n) >= sizeof found || found[0] != '/') {
    fail_with(ERROR_PATH_NOT_FOUND);
    return 0;
  }
  found[n] = 0;
  if (static_cast<DWORD>(n) >= size) return static_cast<DWORD>(n) + 1;
  memcpy(path, found, static_cast<size_t>(n) + 1);
  return static_cast<DWORD>(n);
}

DWORD WINAPI GetCurrentProcessId(void) {
#if defined(__linux__) && defined(__GLIBC__)
  return static_cast<DWORD>(getpid());
#elif defined(__linux__)
  // The process is one thread, whose id is the process id; musl keeps it
  // from start-up, where getpid asks the kernel again.
  return static_cast<DWORD>(gettid());
#else
  return static_cast<DWORD>(getpid());
#endif
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) return fail_errno();
  count->QuadPart =
      static_cast<long long>(now.tv_sec) * 1000000000 + now.tv_nsec;
  return TRUE;
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
  ssize_t n;
  do {
    n = read(fd_of(file), buffer, bytes_to_read);
  } while (n < 0 && errno == EINTR);
  *bytes_read = n > 0 ? static_cast<DWORD>(n) : 0;
  return n >= 0 ? TRUE : fail_errno();
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
      ok = n < 0 ? fail_errno() : fail_with(ERROR_DISK_FULL);
      break;
    }
    done += static_cast<DWORD>(n);
  }
  *bytes_written = done;
  return ok;
}

BOOL WINAPI CloseHandle(HANDLE object) {
  // Linux releases the descriptor even when close reports EINTR.
  return close(fd_of(object)) == 0 || errno == EINTR ? TRUE : fail_errno();
}

BOOL WINAPI DeleteFileA(LPCSTR path) {
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
  fill_information(st, info);
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

DWORD platform_file_information(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info,
                                PlatformOwner* owner) {
  struct stat st;
  if (fstat(fd_of(file), &st) != 0) {
    fail_errno();
    return FILE_TYPE_UNKNOWN;
  }
  fill_information(st, info);
  if (owner == nullptr) return type_of(st);
  owner->user = static_cast<DWORD>(st.st_uid);
  owner->group = static_cast<DWORD>(st.st_gid);
  owner->mode = static_cast<DWORD>(st.st_mode & 07777);
  owner->access_list_length = 0;
#if defined(__linux__)
  // Only a file has its access list carried. The descriptor may be one
  // that only looks (O_PATH), which the xattr calls refuse; its name in
  // /proc leads to the same file. A list that cannot be read (no /proc)
  // is said to be so, not taken for none.
  if (S_ISREG(st.st_mode)) {
    char name[32];
    snprintf(name, sizeof name, "/proc/self/fd/%d", fd_of(file));
    const ssize_t n = getxattr(name, ACCESS_LIST, owner->access_list,
                               PLATFORM_ACCESS_LIST_MAX);
    if (n > 0) {
      owner->access_list_length = static_cast<DWORD>(n);
    } else if (n < 0 && errno != ENODATA && errno != ENOTSUP) {
      owner->access_list_length = PLATFORM_ACCESS_LIST_UNKNOWN;
    }
  }
#endif
  return type_of(st);
}

BOOL platform_may_write(HANDLE file, const BY_HANDLE_FILE_INFORMATION*) {
  const int fd = fd_of(file);
#if defined(AT_EMPTY_PATH) && defined(AT_EACCESS)
  if (faccessat(fd, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) == 0) return TRUE;
  if (errno != EINVAL && errno != ENOSYS) return fail_errno();
#endif
  // Where the kernel cannot check a descriptor, the permission bits decide.
  struct stat st;
  if (fstat(fd, &st) != 0) return fail_errno();
  const uid_t user = geteuid();
  if (user == 0) return TRUE;
  if (st.st_uid == user) return (st.st_mode & S_IWUSR) != 0;
  bool member = st.st_gid == getegid();
  gid_t groups[64];
  const int n = getgroups(64, groups);
  for (int i = 0; i < n && !member; ++i) member = groups[i] == st.st_gid;
  return (st.st_mode & (member ? S_IWGRP : S_IWOTH)) != 0;
}

BOOL platform_folder_keeps_names(LPCSTR path) {
#if defined(__linux__) && defined(SYS_statx)
  // statx tells a folder's attributes in one call: struct statx has them
  // at offset 8 and which of them the file system reports at offset 56.
  const uint64_t APPEND = 0x20;  // STATX_ATTR_APPEND
  alignas(8) unsigned char buffer[256];
  if (syscall(SYS_statx, AT_FDCWD, path, 0, 0u, buffer) != 0) return FALSE;
  uint64_t attributes, reported;
  memcpy(&attributes, buffer + 8, sizeof attributes);
  memcpy(&reported, buffer + 56, sizeof reported);
  return (attributes & reported & APPEND) != 0;
#else
  (void)path;
  return FALSE;
#endif
}

HANDLE platform_create_private(LPCSTR path, const PlatformOwner*) {
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY, 0600);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    fail_errno();
    return INVALID_HANDLE_VALUE;
  }
  return handle_of(fd);
}

BOOL platform_keep_identity(HANDLE file, const PlatformOwner* like) {
  const int fd = fd_of(file);
  const uid_t user = static_cast<uid_t>(like->user);
  const gid_t group = static_cast<gid_t>(like->group);
  // Root keeps both; a member of the file's group keeps the group. Most
  // often the new file has both already, which a look tells for less
  // than a change of owner.
  struct stat now;
  if (fstat(fd, &now) != 0) return fail_errno();
  bool owner_kept = now.st_uid == user;
  bool group_kept = now.st_gid == group;
  if (!(owner_kept && group_kept)) {
    if (fchown(fd, user, group) == 0) {
      owner_kept = group_kept = true;
    } else if (fchown(fd, static_cast<uid_t>(-1), group) == 0) {
      group_kept = true;
    }
  }
  const bool both = owner_kept && group_kept;
  mode_t mode = static_cast<mode_t>(like->mode) & 0777;
#if defined(__linux__)
  const size_t length = like->access_list_length;
  const bool listed = length != 0 && length <= PLATFORM_ACCESS_LIST_MAX;
  // The old file's access list, where owner and group are both kept (its
  // entries for them mean what they meant): it replaces what the new file
  // inherited from a folder's default list, and sets the permission bits
  // with it, in one call.
  if (both && listed &&
      fsetxattr(fd, ACCESS_LIST, like->access_list, length, 0) == 0) {
    return keep_special_bits(fd, mode, like->mode);
  }
  if (both && listed && errno != ENOTSUP) return fail_errno();
  mode_t group_bits = (mode >> 3) & 07;
  const mode_t named =
      listed ? least_named(like->access_list, length, &group_bits) : 07;
#else
  mode_t group_bits = (mode >> 3) & 07;
  const mode_t named = 07;
#endif
  // Else nobody may gain. Whoever a dropped list named is now in the group
  // or among the others; so is the old owner where the owner is not kept,
  // and the old group where the group is not; a group not kept (the
  // writer's own) had what others had. The writer, owner now, keeps the
  // write it had.
  const mode_t owner_bits = (mode >> 6) & 07;
  const mode_t other_bits = mode & 07;
  const mode_t lost = named & (owner_kept ? 07 : owner_bits);
  const mode_t group_after = (group_kept ? group_bits : other_bits) & lost;
  const mode_t other_after = other_bits & lost & (group_kept ? 07 : group_bits);
  mode = (owner_bits | (owner_kept ? 0 : 02)) << 6 | group_after << 3 |
         other_after;
#if defined(__linux__)
  // A list that says no more than the mode, which also clears what the new
  // file inherited from a folder's default list; the mode alone where the
  // file system takes no list.
  unsigned char minimal[4 + 3 * 8];
  if (fsetxattr(fd, ACCESS_LIST, minimal, minimal_list(mode, minimal), 0) !=
      0) {
    if (errno != ENOTSUP) return fail_errno();
    if (fchmod(fd, mode) != 0) return fail_errno();
  }
#else
  if (fchmod(fd, mode) != 0) return fail_errno();
#endif
  return both ? keep_special_bits(fd, mode, like->mode) : TRUE;
}

BOOL platform_write_alone(HANDLE file) {
  int result;
  do {
    result = flock(fd_of(file), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result == 0 ? TRUE : fail_errno();
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

void platform_defer_interruptions(BOOL defer) {
  // Every signal that can wait does (all but SIGKILL and SIGSTOP); how the
  // process takes each stays as the caller set it.
#if defined(__linux__)
  const unsigned long long all = ~0ull;
  if (defer) {
    syscall(SYS_rt_sigprocmask, SIG_BLOCK, &all, &mask_before, sizeof all);
  } else {
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, &mask_before, nullptr,
            sizeof mask_before);
  }
#else
  if (defer) {
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &mask_before);
  } else {
    sigprocmask(SIG_SETMASK, &mask_before, nullptr);
  }
#endif
}

void platform_prefer_huge_pages(LPVOID block, SIZE_T length) {
#ifdef MADV_HUGEPAGE                      // Linux only
  madvise(block, length, MADV_HUGEPAGE);  // a hint only
#else
  (void)block;
  (void)length;
#endif
}

}  // extern "C"
