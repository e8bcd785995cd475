#include "runtime/stream.h"

Stream std_in;
Stream std_out;
Stream std_err;

namespace {

const char CR = '\r';
const char LF = '\n';
const char NEWLINE[] = {CR, LF};

struct OpenKind {
  DWORD access;
  DWORD share;
  DWORD disposition;
  bool to_end;
};

// Any number of readers may share a file; a writer has it to itself.
bool open_kind(char first, bool update, OpenKind* kind) {
  const DWORD both = GENERIC_READ | GENERIC_WRITE;
  switch (first) {
    case 'r':
      *kind = {update ? both : GENERIC_READ, update ? 0u : FILE_SHARE_READ,
               OPEN_EXISTING, false};
      return true;
    case 'w':
      *kind = {update ? both : GENERIC_WRITE, 0, CREATE_ALWAYS, false};
      return true;
    case 'a':
      *kind = {update ? both : GENERIC_WRITE, 0, OPEN_ALWAYS, true};
      return true;
    default:
      return false;
  }
}

uint32_t stream_mode_flags(const char* mode) {
  uint32_t flags = 0;
  for (const char* m = mode + (mode[0] != 0 ? 1 : 0); *m != 0; ++m) {
    if (*m == 'b') flags |= STREAM_BINARY;
  }
  return flags;
}

bool parse_mode(const char* mode, OpenKind* kind, uint32_t* flags) {
  bool update = false;
  for (const char* m = mode + (mode[0] != 0 ? 1 : 0); *m != 0; ++m) {
    if (*m == '+') update = true;
  }
  *flags = stream_mode_flags(mode);
  return open_kind(mode[0], update, kind);
}

// The record for a new stream, with no handle yet; null when no memory can
// be had.
Stream* new_stream(uint32_t flags) {
  Stream* stream = static_cast<Stream*>(heap_alloc(sizeof(Stream)));
  if (stream != nullptr) {
    *stream = {INVALID_HANDLE_VALUE, flags};
  }
  return stream;
}

// Drops every CR from bytes[0, length) in place; returns the bytes kept.
uint32_t drop_carriage_returns(char* bytes, uint32_t length) {
  uint32_t kept = 0;
  for (uint32_t i = 0; i < length; ++i) {
    if (bytes[i] != CR) bytes[kept++] = bytes[i];
  }
  return kept;
}

// One platform write; the count accepted, never more than asked.
uint32_t write_chunk(Stream* stream, const char* bytes, uint32_t length,
                     bool* ok) {
  DWORD accepted = 0;
  *ok = WriteFile(stream->handle, bytes, length, &accepted, nullptr) != 0;
  if (accepted > length) accepted = length;
  if (accepted < length) *ok = false;
  if (!*ok) stream->flags |= STREAM_ERROR;
  return accepted;
}

}  // namespace

uint32_t text_length(const char* text) {
  uint32_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

Stream* stream_open(const char* path, const char* mode) {
  OpenKind kind;
  uint32_t flags;
  if (!parse_mode(mode, &kind, &flags)) return nullptr;
  Stream* stream = new_stream(flags);
  if (stream == nullptr) return nullptr;
  stream->handle =
      CreateFileA(path, kind.access, kind.share, nullptr, kind.disposition,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (stream->handle == INVALID_HANDLE_VALUE) {
    heap_free(stream);
    return nullptr;
  }
  if (kind.to_end && SetFilePointer(stream->handle, 0, nullptr, FILE_END) ==
                         INVALID_SET_FILE_POINTER) {
    CloseHandle(stream->handle);
    heap_free(stream);
    return nullptr;
  }
  return stream;
}

uint32_t stream_read(void* buffer, uint32_t size, uint32_t count,
                     Stream* stream) {
  const uint32_t total = size * count;
  if (total == 0) return 0;
  if (stream->flags & STREAM_AT_END) return 0;

  char* bytes = static_cast<char*>(buffer);
  const bool text = (stream->flags & STREAM_BINARY) == 0;
  uint32_t kept = 0;
  // Text mode refills the gap that dropped CRs leave; both modes refill a
  // short delivery, which a pipe or a slow device may give before its end.
  while (kept < total) {
    const uint32_t want = total - kept;
    DWORD delivered = 0;
    const bool ok =
        ReadFile(stream->handle, bytes + kept, want, &delivered, nullptr) != 0;
    if (delivered > want) delivered = want;
    kept += text ? drop_carriage_returns(bytes + kept, delivered) : delivered;
    if (!ok) {
      stream->flags |= STREAM_ERROR;
      break;
    }
    if (delivered == 0) break;
  }
  const uint32_t items = kept / size;
  if (items != count) stream->flags |= STREAM_AT_END;
  return items;
}

uint32_t stream_write(const void* buffer, uint32_t size, uint32_t count,
                      Stream* stream) {
  const uint32_t total = size * count;
  if (total == 0) return 0;
  const char* bytes = static_cast<const char*>(buffer);
  bool ok = true;

  if (stream->flags & STREAM_BINARY) {
    return write_chunk(stream, bytes, total, &ok) / size;
  }

  uint32_t done = 0;
  uint32_t i = 0;
  while (i < total && ok) {
    if (bytes[i] == LF) {
      const bool native = (stream->flags & STREAM_PLATFORM_LINES) != 0;
      write_chunk(stream, native ? PLATFORM_LINE_END : NEWLINE,
                  native ? sizeof PLATFORM_LINE_END - 1 : sizeof NEWLINE, &ok);
      if (ok) ++done;
      ++i;
      continue;
    }
    uint32_t run = 0;
    while (i + run < total && bytes[i + run] != LF) ++run;
    done += write_chunk(stream, bytes + i, run, &ok);
    i += run;
  }
  return done / size;
}

int stream_close(Stream* stream) {
  if (stream == nullptr) return -1;
  if (!CloseHandle(stream->handle)) return -1;
  heap_free(stream);
  return 0;
}

int stream_error(const Stream* stream) {
  return (stream->flags & STREAM_ERROR) != 0;
}

int stream_puts(const char* text, Stream* stream) {
  const uint32_t n = text_length(text);
  return stream_write(text, 1, n, stream) == n ? 0 : -1;
}

int put_line(const char* text) {
  if (stream_puts(text, &std_out) != 0) return -1;
  return stream_puts("\n", &std_out);
}

int stream_kind(Stream* stream, StreamKind* kind, uint64_t* length) {
  *length = 0;
  const DWORD type = GetFileType(stream->handle);
  if (type != FILE_TYPE_DISK) {
    *kind = STREAM_OTHER;
    return type == FILE_TYPE_UNKNOWN ? -1 : 0;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(stream->handle, &info)) return -1;
  const bool folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  *kind = folder ? STREAM_FOLDER : STREAM_FILE;
  *length = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return 0;
}

OpenFailure stream_open_failure(const char* path) {
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
    return OPEN_NO_SUCH_FILE;
  }
  if (code == ERROR_CANT_RESOLVE_FILENAME) return OPEN_LINK_LOOP;
  // Opened for no access, a name is only looked at: a folder and a socket
  // open so, and a FIFO does not wait for a writer.
  const HANDLE look = CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (look == INVALID_HANDLE_VALUE) {
    return code == ERROR_ACCESS_DENIED ? OPEN_DENIED : OPEN_OTHER;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const DWORD type = GetFileType(look);
  const bool folder = type == FILE_TYPE_DISK &&
                      GetFileInformationByHandle(look, &info) &&
                      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CloseHandle(look);
  if (folder) return OPEN_FOLDER;
  // A pipe that exists but would not open for reading is a socket.
  if (type == FILE_TYPE_PIPE) return OPEN_SOCKET;
  return code == ERROR_ACCESS_DENIED ? OPEN_DENIED : OPEN_OTHER;
}
