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
}

#endif
