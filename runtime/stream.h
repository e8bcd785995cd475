// Unbuffered byte streams over platform file handles, with the text mode
// of the console world: CR dropped on reading, LF written as CR LF.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
#include "runtime/heap.h"

struct Stream {
  HANDLE handle;
  uint32_t flags;
};

// Bits of Stream::flags. Nothing outside the runtime sees them, so only
// their being distinct matters, not their values.
// No newline translation.
constexpr uint32_t STREAM_BINARY = 0x01;
// A platform read or write failed; the result of that call is short.
constexpr uint32_t STREAM_ERROR = 0x20;
// A read delivered fewer items than asked; later reads return 0 at once.
constexpr uint32_t STREAM_AT_END = 0x08;
// Text mode writes LF as the platform ends a line (LF on POSIX) rather
// than as CR LF: for output that the platform's own tools read.
constexpr uint32_t STREAM_PLATFORM_LINES = 0x400;

// Bound to the platform's standard handles at start-up; text mode.
extern Stream std_in;
extern Stream std_out;
extern Stream std_err;

// mode: first byte r, w or a; then any of '+' (read and write) and 'b'
// (binary). Null when the mode is bad, the file cannot be opened, or no
// record can be allocated.
Stream* stream_open(const char* path, const char* mode);

// Both return whole items. A short delivery from the platform is followed
// by further reads until the request is filled or a read delivers nothing,
// so a short result always means end of file or an error.
uint32_t stream_read(void* buffer, uint32_t size, uint32_t count,
                     Stream* stream);
uint32_t stream_write(const void* buffer, uint32_t size, uint32_t count,
                      Stream* stream);

// 0, or -1 for null or a failed platform close (record kept).
int stream_close(Stream* stream);

// Non-zero once a platform read or write on the stream has failed.
int stream_error(const Stream* stream);

// 0 when all of text was consumed, else -1.
int stream_puts(const char* text, Stream* stream);

// text and a newline on std_out.
int put_line(const char* text);

uint32_t text_length(const char* text);

// What a stream reads from, as the platform tells it.
enum StreamKind {
  STREAM_FILE,    // a file on a disk, whose length the file system keeps
  STREAM_FOLDER,  // opened, but nothing can be read from it
  STREAM_OTHER,   // a pipe, a device or a terminal: only its end tells
};

// What the stream reads from and, for STREAM_FILE, the file's length: 0,
// or -1 when the platform cannot tell.
int stream_kind(Stream* stream, StreamKind* kind, uint64_t* length);

// Why stream_open could not open path, asked right after it failed.
enum OpenFailure {
  OPEN_NO_SUCH_FILE,
  OPEN_DENIED,
  OPEN_FOLDER,
  OPEN_SOCKET,     // a name in the file system that only a socket call opens
  OPEN_LINK_LOOP,  // links that lead back to themselves
  OPEN_OTHER,
};

// The platform's error, and where that does not tell, one more look at
// path: Windows refuses to open a folder as a file with "access denied",
// and POSIX a socket with an error that says nothing of it.
OpenFailure stream_open_failure(const char* path);
