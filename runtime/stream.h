// Unbuffered byte streams over platform file handles, with the text mode
// of the console world: CR dropped on reading, LF written as CR LF.
#pragma once

#include <stdint.h>

#include "platform/platform.h"
#include "runtime/heap.h"

struct Stream {
  HANDLE handle;
  uint32_t flags;
  // Set by stream_replace only: the file being written, removed when the
  // stream is abandoned (null: nothing may be removed), and the path it is
  // renamed to on commit (null: it is written where it lives).
  char* written_path;
  char* target_path;
};

// Bits of Stream::flags. Nothing outside the runtime sees them, so only
// their being distinct matters, not their values.
// No newline translation.
constexpr uint32_t STREAM_BINARY = 0x01;
// A platform read or write failed; the result of that call is short.
constexpr uint32_t STREAM_ERROR = 0x20;
// A read delivered fewer items than asked; later reads return 0 at once.
constexpr uint32_t STREAM_AT_END = 0x08;

// Bound to the platform's standard handles at start-up; text mode.
extern Stream std_in;
extern Stream std_out;
extern Stream std_err;

// mode: first byte r, w or a; then any of '+' (read and write) and 'b'
// (binary). Null when the mode is bad, the file cannot be opened, or no
// record can be allocated.
Stream* stream_open(const char* path, const char* mode);

// Opens a replacement for the file at path (mode: w, optionally b). A
// regular file, new or existing, is written under a fresh name beside it
// (beside a symbolic link's target, not the link) and takes its place
// only at stream_commit, so the path names the old file or the new one,
// whole, at every moment. A device, pipe or terminal is written directly.
// Where no file can be created beside it, the file is written directly
// too. Null when nothing can be opened. path must stay valid until the
// stream is committed or abandoned.
Stream* stream_replace(const char* path, const char* mode);

// Closes a stream from stream_replace and puts the new file in place: 0,
// or -1 when closing or renaming failed, after removing what was written.
// The record is freed either way.
int stream_commit(Stream* stream);

// Closes a stream from stream_replace and removes what it wrote, leaving
// the file it was to replace as it was; frees the record.
void stream_abandon(Stream* stream);

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

// Deletes the file at path: 0, or -1 when it could not be deleted.
int stream_remove(const char* path);

// The length of the file behind the stream as two 32-bit halves, its
// position unchanged: 0, or -1 when the file has no length to tell (a pipe
// or a device).
int stream_size(Stream* stream, uint32_t* low, uint32_t* high);
