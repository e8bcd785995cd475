// The KERNEL32 subset that the runtime is written against.
//
// On Windows this is the real thing. Elsewhere the same names, argument
// order, 32-bit types and constants are declared here and supplied by one
// backend: posix (the native program) or memory (the test double). Nothing
// outside platform/ may test which platform it is built for.
#pragma once

#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#else

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
typedef __SIZE_TYPE__ SIZE_T;
typedef __INTPTR_TYPE__ LONG_PTR;
typedef struct SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED* LPOVERLAPPED;

#define WINAPI
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
#define FILE_ATTRIBUTE_DIRECTORY 0x10
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
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILENAME_EXCED_RANGE 206

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
}

#endif

// Facts of the platform that the runtime plans with.
#if defined(_WIN32)
// Bytes in a path the ANSI file calls take, terminator included.
constexpr unsigned PLATFORM_PATH_MAX = MAX_PATH;
// Windows holds a file's name while any handle is open on it: replacing
// it can be refused for a moment.
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
#else
constexpr unsigned PLATFORM_PATH_MAX = 4096;  // Linux's PATH_MAX
constexpr bool PLATFORM_OPEN_FILE_BLOCKS_REPLACE = false;
constexpr bool platform_is_separator(char c) { return c == '/'; }
constexpr bool PLATFORM_DRIVE_LETTERS = false;
constexpr char PLATFORM_LINE_END[] = "\n";
constexpr bool PLATFORM_NAME_BY_FINAL_PATH = false;
#endif
// Bytes in one name within a folder (NAME_MAX; 255 UTF-16 units on NTFS,
// so never fewer bytes).
constexpr unsigned PLATFORM_NAME_MAX = 255;

// Calls beyond KERNEL32 that each backend supplies, so that what the
// runtime asks for is named for what it is.
extern "C" {
// Gives `file`, a file the process has just created, the owner, group and
// mode of the file at `like` as far as the process may set them, or the
// mode of a newly made file when `like` is null. FALSE when its access
// could not be settled; on Windows the file keeps what its folder gives.
BOOL platform_keep_identity(HANDLE file, LPCSTR like);

// The path a link (opened as itself, FILE_FLAG_OPEN_REPARSE_POINT) holds,
// as written in it: its length, or 0 when the platform cannot tell. On
// Windows it cannot.
DWORD platform_link_target(HANDLE link, LPSTR path, DWORD size);

// What the process undoes when an interruption ends it (a signal on POSIX;
// Ctrl+C, Ctrl+Break or a closed console on Windows): the file at `path`,
// open as `file`, is deleted, or emptied when `empty_if_kept` and its
// folder refuses the deletion. A null path clears it. path must stay
// valid until it is cleared. Where the interruption arrives beside the
// program rather than between its steps (the console handler's own thread
// on Windows), it instead waits until the path is cleared and then ends
// the process, and a path set after it has come waits for that end.
void platform_on_interrupt(LPCSTR path, HANDLE file, BOOL empty_if_kept);
}
