#include "runtime/replace.h"

#include "runtime/format.h"

namespace {

// Names a killed run may have left are skipped, a bounded number of them.
constexpr int TEMPORARY_ATTEMPTS = 4;
// A file replaced by another run while it is looked at is looked at again.
constexpr int PROBE_ATTEMPTS = 8;
// Links to nothing yet followed one after another, at most.
constexpr int LINK_DEPTH = 8;
// A rename refused because a reader has the file open passes once the
// reader closes it: about a second of short pauses.
constexpr int RENAME_ATTEMPTS = 100;
constexpr DWORD RENAME_PAUSE_MS = 10;
// ".krelt-" + process id + "-" + attempt + ".tmp", at most.
constexpr uint32_t SUFFIX_MAX = 7 + 10 + 2 + 4;
// The block of names: where the output lives, and the file beside it.
constexpr uint32_t NAMES_SIZE = 2 * PLATFORM_PATH_MAX + SUFFIX_MAX;
constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

enum Kind {
  KIND_NEW,      // nothing there yet
  KIND_FILE,     // a file that may be replaced
  KIND_DEVICE,   // a device, pipe or terminal, or a link to one
  KIND_AGAIN,    // replaced while looked at: look again
  KIND_REFUSED,  // a folder, a read-only file, or no way to tell
};

struct Output {
  Kind kind;
  bool is_source;
};

char* put_text(char* end, const char* text) {
  while (*text != 0) *end++ = *text++;
  return end;
}

HANDLE look(const char* path, DWORD flags) {
  return CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                     flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Appends `text`, the path a link at `at` holds, to the folder of `at`
// (in place), or puts it there whole where it is a full path. False when
// the result would not fit.
bool follow_text(char* at, const char* text) {
  uint32_t folder = text_length(at);
  const bool full = platform_is_separator(text[0]) ||
                    (PLATFORM_DRIVE_LETTERS && text[0] != 0 && text[1] == ':');
  if (full) folder = 0;
  while (folder > 0 && !platform_is_separator(at[folder - 1])) --folder;
  if (folder + text_length(text) >= PLATFORM_PATH_MAX) return false;
  *put_text(at + folder, text) = 0;
  return true;
}

// What the output path names, and where the file to replace lives (left in
// `target`): the path as given, or what a link leads to, through a chain
// of them, or the name a link to nothing yet holds. `scratch` has room
// for a path.
Output probe(const char* path, const FileId* source, char* target,
             char* scratch) {
  *put_text(target, path) = 0;
  HANDLE handle = INVALID_HANDLE_VALUE;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = false;
  bool link = false;
  for (int depth = 0;; ++depth) {
    handle = look(target, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
      // Only a name that is not there is a new file; anything else (no
      // folder, no access, no memory) is a reason to touch nothing.
      return {GetLastError() == ERROR_FILE_NOT_FOUND ? KIND_NEW : KIND_REFUSED,
              false};
    }
    known = GetFileInformationByHandle(handle, &info) != 0;
    if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      break;
    }
    // A link: the file at the end of its chain, where there is one.
    link = true;
    const HANDLE end = look(target, 0);
    if (end != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      handle = end;
      known = GetFileInformationByHandle(handle, &info) != 0;
      break;
    }
    // A link to nothing yet: its target is made where it says, as opening
    // it would; a loop of links or a link the platform cannot read is not
    // followed.
    const bool dangling = GetLastError() == ERROR_FILE_NOT_FOUND;
    const DWORD n =
        dangling ? platform_link_target(handle, scratch, PLATFORM_PATH_MAX) : 0;
    CloseHandle(handle);
    if (n == 0 || n >= PLATFORM_PATH_MAX || depth == LINK_DEPTH ||
        !follow_text(target, scratch)) {
      return {KIND_REFUSED, false};
    }
  }
  Output out = {KIND_FILE, false};
  const DWORD refused = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    out.kind = KIND_DEVICE;
  } else if (!known || (info.dwFileAttributes & refused) != 0) {
    out.kind = KIND_REFUSED;
  } else if (link || PLATFORM_NAME_BY_FINAL_PATH) {
    // The name of what the link leads to, checked by the platform to be
    // this very file; a file replaced meanwhile has no such name. (On
    // Windows it is in the long form, \\?\C:\..., which the ANSI calls
    // take as well within their length limit; a name too long for that
    // is used as given.)
    const DWORD n = GetFinalPathNameByHandleA(
        handle, scratch, PLATFORM_PATH_MAX, FILE_NAME_NORMALIZED);
    if (n != 0 && n < PLATFORM_PATH_MAX) {
      *put_text(target, scratch) = 0;
    } else if (link) {
      out.kind = KIND_AGAIN;
    }
  }
  out.is_source = known && source != nullptr &&
                  info.dwVolumeSerialNumber == source->volume &&
                  info.nFileIndexHigh == source->index_high &&
                  info.nFileIndexLow == source->index_low;
  CloseHandle(handle);
  return out;
}

// The name of the file written beside `target`, for one attempt: the
// target's name and a suffix that says whose it is, the name shortened
// (never inside a UTF-8 character) so that it stays within the limits of
// one name and of a whole path. False when not even the suffix fits.
bool temporary_name(const char* target, int attempt, char* out) {
  char suffix[SUFFIX_MAX + 1];
  char* end = put_decimal(put_text(suffix, ".krelt-"), GetCurrentProcessId());
  if (attempt > 0) {
    *end++ = '-';
    *end++ = static_cast<char>('0' + attempt);
  }
  *put_text(end, ".tmp") = 0;
  const uint32_t suffix_length = static_cast<uint32_t>(end + 4 - suffix);

  const uint32_t length = text_length(target);
  uint32_t folder = length;
  while (folder > 0 && !platform_is_separator(target[folder - 1])) --folder;
  uint32_t keep = length - folder;
  if (folder + suffix_length >= PLATFORM_PATH_MAX) return false;
  if (keep > PLATFORM_NAME_MAX - suffix_length) {
    keep = PLATFORM_NAME_MAX - suffix_length;
  }
  if (folder + keep + suffix_length >= PLATFORM_PATH_MAX) {
    keep = PLATFORM_PATH_MAX - 1 - folder - suffix_length;
  }
  const unsigned char* name =
      reinterpret_cast<const unsigned char*>(target + folder);
  if (keep < length - folder) {
    while (keep > 0 && (name[keep] & 0xC0) == 0x80) --keep;
  }
  char* at = out;
  for (uint32_t i = 0; i < folder + keep; ++i) *at++ = target[i];
  *put_text(at, suffix) = 0;
  return true;
}

// The folder of the output will take no new file, though the output itself
// may still be written.
bool folder_refuses(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT ||
         error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

enum Created { CREATED, FOLDER_REFUSES, NOT_CREATED };

// Creates a file of this run's own beside the target, never one that
// exists, so that runs writing one output at once each get their own.
Created create_beside(Stream* stream, const Output& out) {
  char* temporary = stream->names + PLATFORM_PATH_MAX;
  for (int attempt = 0; attempt < TEMPORARY_ATTEMPTS; ++attempt) {
    if (!temporary_name(stream->target, attempt, temporary)) break;
    // Named for cleanup before it exists, so that no moment is left in
    // which an interruption would leave it; a name that turns out to be
    // taken can only be one a killed run of the same process id left.
    platform_on_interrupt(temporary, INVALID_HANDLE_VALUE, FALSE);
    const HANDLE handle =
        CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
      stream->handle = handle;
      stream->written = temporary;
      stream->flags |= STREAM_BESIDE | STREAM_UNDO;
      platform_on_interrupt(temporary, handle, FALSE);
      return platform_keep_identity(
                 handle, out.kind == KIND_FILE ? stream->target : nullptr)
                 ? CREATED
                 : NOT_CREATED;
    }
    const DWORD error = GetLastError();
    platform_on_interrupt(nullptr, INVALID_HANDLE_VALUE, FALSE);
    if (folder_refuses(error)) return FOLDER_REFUSES;
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return NOT_CREATED;
}

// Opens the existing target for writing as it is (never emptied): true
// when it opened.
bool open_target(Stream* stream) {
  stream->handle = CreateFileA(stream->target, GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return stream->handle != INVALID_HANDLE_VALUE;
}

// Opens the existing target to be written over from its start. Unless it
// is the image the data came from (which such a write leaves whole), an
// interruption removes it or, where that is refused, empties it.
bool open_over(Stream* stream) {
  if (!open_target(stream)) return false;
  stream->flags |= STREAM_OVER;
  if ((stream->flags & STREAM_SOURCE) == 0) {
    stream->flags |= STREAM_UNDO;
    stream->written = stream->target;
    platform_on_interrupt(stream->target, stream->handle, TRUE);
  }
  return true;
}

// Undoes what the stream wrote, its handle already closed where `closed`.
void undo(Stream* stream, bool closed) {
  const bool remove = (stream->flags & STREAM_UNDO) != 0;
  if (!closed) {
    // Written over in place: emptied first, in case it cannot be removed.
    if (remove && (stream->flags & STREAM_OVER) != 0 &&
        SetFilePointer(stream->handle, 0, nullptr, FILE_BEGIN) == 0) {
      SetEndOfFile(stream->handle);
    }
    CloseHandle(stream->handle);
  }
  if (remove && stream->written != nullptr) DeleteFileA(stream->written);
}

// Ends a write over the target in place: its length set where the writing
// ended, closed; undone when `ok` is false already or either step fails.
bool finish_over(Stream* stream, bool ok) {
  ok = ok && SetEndOfFile(stream->handle) != 0;
  if (!ok) {
    undo(stream, false);
    return false;
  }
  // Whole now: an interruption from here on must leave it.
  platform_on_interrupt(nullptr, INVALID_HANDLE_VALUE, FALSE);
  if (CloseHandle(stream->handle) == 0) {
    undo(stream, true);
    return false;
  }
  return true;
}

void free_replacement(Stream* stream) {
  platform_on_interrupt(nullptr, INVALID_HANDLE_VALUE, FALSE);
  if (stream->names != nullptr) heap_free(stream->names);
  heap_free(stream);
}

// Renames the file beside over the target. A refusal that an open handle
// causes passes once the handle is closed, so only that one is tried again.
DWORD rename_into_place(const Stream* stream) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExA(stream->written, stream->target,
                    MOVEFILE_REPLACE_EXISTING)) {
      return 0;
    }
    const DWORD error = GetLastError();
    const bool passing =
        error == ERROR_SHARING_VIOLATION ||
        (PLATFORM_OPEN_FILE_BLOCKS_REPLACE && error == ERROR_ACCESS_DENIED);
    if (!passing || attempt + 1 == RENAME_ATTEMPTS) return error;
    Sleep(RENAME_PAUSE_MS);
  }
}

// The folder refused the rename (a sticky folder, say) but the target may
// still be written: the file beside is read back whole and removed, then
// written over the target from its start, undone as any such write.
bool copy_over(Stream* stream) {
  const char* beside = stream->written;
  stream->written = nullptr;
  stream->flags &= ~(STREAM_BESIDE | STREAM_UNDO);
  const HANDLE from =
      CreateFileA(beside, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  char* data = nullptr;
  DWORD got = 0;
  // Exactly what was written: a read that delivers less has failed.
  bool ok = from != INVALID_HANDLE_VALUE &&
            GetFileInformationByHandle(from, &info) &&
            info.nFileSizeHigh == 0 &&
            (data = static_cast<char*>(heap_alloc(info.nFileSizeLow + 1))) !=
                nullptr &&
            ReadFile(from, data, info.nFileSizeLow, &got, nullptr) &&
            got == info.nFileSizeLow;
  if (from != INVALID_HANDLE_VALUE) CloseHandle(from);
  DeleteFileA(beside);
  DWORD put = 0;
  if (ok && open_over(stream)) {
    ok = finish_over(
        stream,
        WriteFile(stream->handle, data, got, &put, nullptr) != 0 && put == got);
  } else {
    ok = false;
  }
  if (data != nullptr) heap_free(data);
  return ok;
}

}  // namespace

int stream_file_id(Stream* stream, FileId* id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(stream->handle, &info)) return -1;
  *id = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return 0;
}

Stream* stream_replace(const char* path, const char* mode,
                       const FileId* source) {
  if (mode[0] != 'w' || text_length(path) >= PLATFORM_PATH_MAX) {
    return nullptr;
  }
  Stream* stream = new_stream(stream_mode_flags(mode));
  if (stream == nullptr) return nullptr;
  stream->names = static_cast<char*>(heap_alloc(NAMES_SIZE));
  if (stream->names == nullptr) {
    free_replacement(stream);
    return nullptr;
  }
  stream->target = stream->names;

  bool opened = false;
  for (int attempt = 0; !opened && attempt < PROBE_ATTEMPTS; ++attempt) {
    const Output out =
        probe(path, source, stream->names, stream->names + PLATFORM_PATH_MAX);
    bool again = out.kind == KIND_AGAIN;
    stream->flags &= ~STREAM_SOURCE;
    if (out.is_source) stream->flags |= STREAM_SOURCE;
    switch (out.kind) {
      case KIND_NEW:
      case KIND_FILE:
        switch (create_beside(stream, out)) {
          case CREATED:
            opened = true;
            break;
          case FOLDER_REFUSES:
            opened = out.kind == KIND_FILE && open_over(stream);
            break;
          case NOT_CREATED:
            break;
        }
        break;
      case KIND_DEVICE:
        // Written as it is, never created, emptied, removed or renamed.
        opened = open_target(stream);
        break;
      case KIND_AGAIN:
      case KIND_REFUSED:
        break;
    }
    if (opened) return stream;
    if (stream->flags & (STREAM_BESIDE | STREAM_OVER)) {
      undo(stream, false);  // made, then refused its identity
      again = false;
    }
    if (!again) break;
  }
  free_replacement(stream);
  return nullptr;
}

int stream_commit(Stream* stream) {
  bool ok;
  if (stream->flags & STREAM_OVER) {
    ok = finish_over(stream, true);
  } else if (CloseHandle(stream->handle) == 0) {
    undo(stream, true);
    ok = false;
  } else if (stream->flags & STREAM_BESIDE) {
    const DWORD refusal = rename_into_place(stream);
    // A folder that lets the target be written but not replaced.
    const bool writable =
        refusal == ERROR_ACCESS_DENIED || refusal == ERROR_WRITE_PROTECT;
    ok = refusal == 0 || (writable && copy_over(stream));
    if (refusal != 0 && !writable) undo(stream, true);
  } else {
    ok = true;  // a device
  }
  free_replacement(stream);
  return ok ? 0 : -1;
}

void stream_abandon(Stream* stream) {
  undo(stream, false);
  free_replacement(stream);
}
