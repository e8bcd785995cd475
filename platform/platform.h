// The KERNEL32 subset that the runtime is written against.
//
// The same names, argument order, 32-bit types and constants as Windows',
// declared here for every build: on Windows KERNEL32 supplies them (no SDK
// header is needed, so any compiler serves); elsewhere one backend does:
// posix (the native program) or memory (the test double). Nothing outside
// platform/ may test which platform it is built for.
#pragma once

typedef unsigned int DWORD;
typedef unsigned int UINT;
typedef int LONG;
typedef int BOOL;
typedef void* HANDLE;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef LONG* PLONG;
// The integers as wide as a pointer, in any compiler's words.
typedef decltype(sizeof 0) SIZE_T;
typedef decltype(static_cast<char*>(nullptr) -
                 static_cast<char*>(nullptr)) LONG_PTR;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED* LPOVERLAPPED;

#if defined(_WIN32)
// KERNEL32's calling convention, its functions called through the import
// table as its own declarations have them; and that of a function it calls
// back.
#define WINAPI __declspec(dllimport) __stdcall
#define CALLBACK __stdcall
#else
#define WINAPI
#define CALLBACK
#endif
#define TRUE 1
#define FALSE 0

#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INVALID_SET_FILE_POINTER ((DWORD)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define FILE_TYPE_UNKNOWN 0x0000
#define FILE_TYPE_DISK 0x0001
#define FILE_TYPE_CHAR 0x0002
#define FILE_TYPE_PIPE 0x0003
#define MOVEFILE_REPLACE_EXISTING 0x1
#define FILE_NAME_NORMALIZED 0x0
#define FILE_ATTRIBUTE_READONLY 0x1
#define FILE_ATTRIBUTE_HIDDEN 0x2
#define FILE_ATTRIBUTE_SYSTEM 0x4
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20
#define FILE_ATTRIBUTE_NOT_CONTENT_INDEXED 0x2000
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000

#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_PROTECT 19
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_HANDLE_DISK_FULL 39
#define ERROR_FILE_EXISTS 80
#define ERROR_DISK_FULL 112
#define ERROR_INVALID_NAME 123
#define ERROR_BUSY 170
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_CANT_RESOLVE_FILENAME 1921

typedef union _LARGE_INTEGER {
  struct {
    DWORD LowPart;
    LONG HighPart;
  } u;
  long long QuadPart;
} LARGE_INTEGER;

typedef struct _FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME;

typedef struct _BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
} BY_HANDLE_FILE_INFORMATION, *LPBY_HANDLE_FILE_INFORMATION;

extern "C" {
LPSTR WINAPI GetCommandLineA(void);
HANDLE WINAPI GetStdHandle(DWORD std_handle);
[[noreturn]] void WINAPI ExitProcess(UINT exit_code);

HANDLE WINAPI GetProcessHeap(void);
LPVOID WINAPI HeapAlloc(HANDLE heap, DWORD flags, SIZE_T bytes);
BOOL WINAPI HeapFree(HANDLE heap, DWORD flags, LPVOID block);

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD share_mode,
                          LPSECURITY_ATTRIBUTES security, DWORD disposition,
                          DWORD attributes, HANDLE template_file);
DWORD WINAPI SetFilePointer(HANDLE file, LONG distance, PLONG distance_high,
                            DWORD method);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD bytes_to_read,
                     LPDWORD bytes_read, LPOVERLAPPED overlapped);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD bytes_to_write,
                      LPDWORD bytes_written, LPOVERLAPPED overlapped);
BOOL WINAPI CloseHandle(HANDLE object);
BOOL WINAPI DeleteFileA(LPCSTR path);
BOOL WINAPI MoveFileExA(LPCSTR from, LPCSTR to, DWORD flags);
DWORD WINAPI GetFileType(HANDLE file);
DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size,
                                       DWORD flags);
DWORD WINAPI GetCurrentProcessId(void);
DWORD WINAPI GetLastError(void);
BOOL WINAPI GetFileInformationByHandle(HANDLE file,
                                       LPBY_HANDLE_FILE_INFORMATION info);
BOOL WINAPI SetEndOfFile(HANDLE file);
void WINAPI Sleep(DWORD milliseconds);
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* count);
}

#if defined(_WIN32)
// What the Windows backend alone calls: the console's interruptions.
#define INFINITE 0xFFFFFFFFu
typedef BOOL(CALLBACK* PHANDLER_ROUTINE)(DWORD event);
extern "C" BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler,
                                             BOOL add);
#endif

// Facts of the platform that the runtime plans with. The in-memory test
// platform is built with either set (KRELT_WINDOWS_RULES: Windows'), so
// that the runtime's branches for both run on every machine.
#if defined(_WIN32) || defined(KRELT_WINDOWS_RULES)
// The limit of a path counts UTF-16 units (characters, and two for one
// past U+FFFF), which the program's UTF-8 text takes at most three bytes
// each for.
constexpr bool PLATFORM_LIMITS_IN_UTF16 = true;
// Units in a path the ANSI file calls take, terminator included.
constexpr unsigned PLATFORM_PATH_MAX = 260;
constexpr unsigned PLATFORM_PATH_BYTES = 3 * PLATFORM_PATH_MAX;
// Windows holds a file's name while any handle is open on it: replacing
// it can be refused for a moment, and the refusal (ERROR_ACCESS_DENIED
// among others) cannot be told from a folder's.
constexpr bool PLATFORM_OPEN_FILE_BLOCKS_REPLACE = true;
constexpr bool platform_is_separator(char c) { return c == '\\' || c == '/'; }
// A full path may start with a drive letter and a colon.
constexpr bool PLATFORM_DRIVE_LETTERS = true;
// How text files end their lines here.
constexpr char PLATFORM_LINE_END[] = "\r\n";
// The final path of an open file is the better name to replace it by: the
// ANSI calls limit the full path anyway, and a link may not show as one
// (Wine shows a POSIX link as the file it leads to).
constexpr bool PLATFORM_NAME_BY_FINAL_PATH = true;
// No folder takes new files but keeps every name (platform_folder_keeps_names).
constexpr bool PLATFORM_FOLDERS_KEEP_NAMES = false;
#else
constexpr bool PLATFORM_LIMITS_IN_UTF16 = false;  // bytes
constexpr unsigned PLATFORM_PATH_MAX = 4096;      // Linux's PATH_MAX
constexpr unsigned PLATFORM_PATH_BYTES = PLATFORM_PATH_MAX;
constexpr bool PLATFORM_OPEN_FILE_BLOCKS_REPLACE = false;
constexpr bool platform_is_separator(char c) { return c == '/'; }
constexpr bool PLATFORM_DRIVE_LETTERS = false;
constexpr char PLATFORM_LINE_END[] = "\n";
constexpr bool PLATFORM_NAME_BY_FINAL_PATH = false;
constexpr bool PLATFORM_FOLDERS_KEEP_NAMES = true;  // append-only ones
#endif
// Bytes in one name within a folder: NAME_MAX on Linux, and within NTFS's
// 255 UTF-16 units; Wine keeps names on a Linux file system, which counts
// bytes.
constexpr unsigned PLATFORM_NAME_MAX = 255;
#if defined(__linux__) && !defined(KRELT_WINDOWS_RULES)
// A transparent huge page: a block of this size or more may ask for them.
constexpr unsigned PLATFORM_HUGE_PAGE = 2u << 20;
#else
constexpr unsigned PLATFORM_HUGE_PAGE = 0;          // none to ask for
#endif

// Who owns a file and how it may be used, where the platform keeps that
// apart from the file's data: on POSIX its owner, group, mode and access
// list; on Windows its attributes (in `mode`). Carried from the file a
// new one replaces to the new one; only the platform reads it.
#if defined(_WIN32)
constexpr unsigned PLATFORM_ACCESS_LIST_MAX = 0;
#else
// The bytes of an access list (Linux: system.posix_acl_access, at most
// XATTR_SIZE_MAX, 64 KiB).
constexpr unsigned PLATFORM_ACCESS_LIST_MAX = 64 << 10;
#endif
// An access_list_length for a list that could not be read: the file holds
// more than can be told, so nothing but the file itself can carry it.
constexpr DWORD PLATFORM_ACCESS_LIST_UNKNOWN = 0xFFFFFFFF;
struct PlatformOwner {
  DWORD user;
  DWORD group;
  DWORD mode;
  DWORD access_list_length;  // 0: none beyond the mode
  unsigned char access_list[PLATFORM_ACCESS_LIST_MAX + 1];
};

// Calls beyond KERNEL32 that each backend supplies: each is named for the
// one decision it stands for, so that no KERNEL32 call makes one.
extern "C" {
// What the file is, from one look: its type (GetFileType), and for a
// file system object its information (GetFileInformationByHandle) and,
// when `owner` is not null, its owner. FILE_TYPE_UNKNOWN when any of that
// cannot be told.
DWORD platform_file_information(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info,
                                PlatformOwner* owner);

// Whether this process may write the file, whose information `info` holds,
// as opening it for writing would decide (POSIX: the kernel's access
// check, access lists and read-only file systems included; Windows: the
// read-only attribute). FALSE also when that cannot be told.
BOOL platform_may_write(HANDLE file, const BY_HANDLE_FILE_INFORMATION* info);

// Whether the folder at `path` takes new names but keeps every name it
// holds, so that nothing made there can be renamed or removed (Linux: an
// append-only folder). FALSE where it cannot be told.
BOOL platform_folder_keeps_names(LPCSTR path);

// Creates a file at path for writing, exclusively (ERROR_FILE_EXISTS
// where the name is taken), that will replace the file whose owner is
// `like`: no other user may open it until platform_keep_identity gives it
// that owner (POSIX: mode 0600), and it has what a file takes only when
// made (Windows: the hidden, system, archive and not-indexed attributes).
HANDLE platform_create_private(LPCSTR path, const PlatformOwner* like);

// Gives `file`, made by platform_create_private and written, the owner in
// `like` as far as the process may set it: owner and group, the access
// list, the mode, and last the setuid and setgid bits, which a write
// would clear (kept only with both owner and group). Where owner, group
// or access list cannot be carried, the file is left less open than the
// one it replaces to anyone, never more. FALSE when its access could not
// be settled.
BOOL platform_keep_identity(HANDLE file, const PlatformOwner* like);

// Waits until no other process writes `file` by this call, and keeps it so
// until the handle is closed, so that writers of one file take turns
// (POSIX: flock; on Windows the share mode of the open already does).
BOOL platform_write_alone(HANDLE file);

// The path a link (opened as itself, FILE_FLAG_OPEN_REPARSE_POINT) holds,
// as written in it: its length, or 0 when the platform cannot tell. On
// Windows it cannot.
DWORD platform_link_target(HANDLE link, LPSTR path, DWORD size);

// From TRUE until FALSE, an interruption (a signal on POSIX; Ctrl+C,
// Ctrl+Break or a closed console on Windows) waits; once FALSE is given
// it acts as it would have, so the process ends of it then. SIGKILL
// cannot be made to wait. Calls do not nest.
void platform_defer_interruptions(BOOL defer);

// Asks for huge pages for a large block from HeapAlloc that is about to be
// filled (a hint; nothing where PLATFORM_HUGE_PAGE is 0).
void platform_prefer_huge_pages(LPVOID block, SIZE_T length);
}
