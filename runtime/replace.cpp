#include "runtime/replace.h"

#include "runtime/format.h"

// A replacement is a short sequence: look at the output, decide how it is
// written, then write it that way: beside it and renamed over it; over it
// (or, new, made directly, as a plain create does) where nothing can be
// put beside it and renamed; or directly for a device. From the first file
// made (or written over) to the rename or removal that ends it,
// interruptions wait.
namespace {

// Names held by another run, or left by a killed one, are skipped, a
// bounded number of them.
constexpr int BESIDE_ATTEMPTS = 4;
// A file replaced by another run while it is looked at is looked at again.
constexpr int LOOK_ATTEMPTS = 8;
// Links to nothing yet followed one after another, at most.
constexpr int LINK_DEPTH = 8;
// A rename refused because a reader has the file open passes once the
// reader closes it: about a second of short pauses.
constexpr int RENAME_ATTEMPTS = 100;
constexpr DWORD RENAME_PAUSE_MS = 10;
// ".krelt-" + process id + "-" + 8 hex digits + ".tmp", at most.
constexpr uint32_t SUFFIX_MAX = 7 + 10 + 1 + 8 + 4;
// The most bytes an image written over in place has rewritten.
constexpr uint32_t CHANGED_MAX = 64;
constexpr DWORD SHARE_ALL =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

enum Kind {
  KIND_NEW,      // nothing there yet
  KIND_FILE,     // a file that may be replaced
  KIND_DEVICE,   // a device, pipe or terminal, or a link to one
  KIND_AGAIN,    // replaced while looked at: look again
  KIND_REFUSED,  // a folder, a file this run may not write, or no way to tell
};

// What the look at the output found.
struct Look {
  Kind kind;
  bool is_source;  // the file the data was read from
  PlatformOwner owner;
  FileId id;
};

// One replacement under way: what goes where.
struct Replacement {
  const void* data;
  uint32_t length;
  const FileId* source;
  uint32_t changed;
  Look look;
  char target[PLATFORM_PATH_BYTES];  // the output, or where its link leads
  char beside[PLATFORM_PATH_BYTES];
  char scratch[PLATFORM_PATH_BYTES];
};

// How putting the data beside the target ended. OTHER_WAY: nothing was
// left there, and the target may still be written over, or made directly.
enum Outcome { DONE, FAILED, OTHER_WAY };

char* put_text(char* end, const char* text) {
  while (*text != 0) *end++ = *text++;
  return end;
}

FileId id_of(const BY_HANDLE_FILE_INFORMATION& info) {
  return {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool same_id(const FileId& a, const FileId& b) {
  return a.volume == b.volume && a.index_high == b.index_high &&
         a.index_low == b.index_low;
}

// The units the platform's limits count in the first `n` bytes of UTF-8
// text: bytes, or UTF-16 units (none for a continuation byte, two for a
// character past U+FFFF).
uint32_t units_of(const char* text, uint32_t n) {
  if (!PLATFORM_LIMITS_IN_UTF16) return n;
  uint32_t units = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const unsigned char byte = static_cast<unsigned char>(text[i]);
    units += (byte & 0xC0) == 0x80 ? 0 : byte >= 0xF0 ? 2 : 1;
  }
  return units;
}

// The bytes of the longest start of `name` that takes at most `bytes`
// bytes and `units` units, never ending inside a UTF-8 character.
uint32_t fitting_bytes(const char* name, uint32_t bytes, uint32_t units) {
  uint32_t keep = 0;
  for (uint32_t used = 0; name[keep] != 0;) {
    uint32_t next = keep + 1;
    while ((static_cast<unsigned char>(name[next]) & 0xC0) == 0x80) ++next;
    used += units_of(name + keep, next - keep);
    if (next > bytes || used > units) break;
    keep = next;
  }
  return keep;
}

// The length of the folder part of a path: up to its last separator.
uint32_t folder_length(const char* path) {
  uint32_t folder = text_length(path);
  while (folder > 0 && !platform_is_separator(path[folder - 1])) --folder;
  return folder;
}

HANDLE look_handle(const char* path, DWORD flags) {
  return CreateFileA(path, 0, SHARE_ALL, nullptr, OPEN_EXISTING,
                     flags | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Appends `text`, the path a link at `at` holds, to the folder of `at`
// (in place), or puts it there whole where it is a full path. False when
// the result would not fit.
bool follow_text(char* at, const char* text) {
  const bool full = platform_is_separator(text[0]) ||
                    (PLATFORM_DRIVE_LETTERS && text[0] != 0 && text[1] == ':');
  const uint32_t folder = full ? 0 : folder_length(at);
  if (folder + text_length(text) >= PLATFORM_PATH_BYTES) return false;
  *put_text(at + folder, text) = 0;
  return true;
}

// The output by the name of what the handle has open, where a link leads
// there or the platform names files that way. That name must still lead
// to this very file: one renamed or replaced meanwhile is looked at again.
Kind by_final_path(Replacement* r, HANDLE handle, const FileId& id, bool link) {
  const DWORD n = GetFinalPathNameByHandleA(
      handle, r->scratch, PLATFORM_PATH_BYTES, FILE_NAME_NORMALIZED);
  // Without a final path a link's target cannot be told; a file that is
  // no link keeps the name it was given (on Windows the long form,
  // \\?\C:\..., may be too long for the ANSI calls).
  if (n == 0 || n >= PLATFORM_PATH_BYTES ||
      units_of(r->scratch, n) >= PLATFORM_PATH_MAX) {
    return link ? KIND_REFUSED : KIND_FILE;
  }
  const HANDLE named = look_handle(r->scratch, 0);
  if (named == INVALID_HANDLE_VALUE) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? KIND_AGAIN : KIND_REFUSED;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(named, &info) != 0;
  CloseHandle(named);
  if (!known) return KIND_REFUSED;
  if (!same_id(id_of(info), id)) return KIND_AGAIN;
  *put_text(r->target, r->scratch) = 0;
  return KIND_FILE;
}

// What the opened output is, from the look of platform_file_information.
// Whatever cannot be told is refused.
Kind classify(Replacement* r, HANDLE handle, DWORD type,
              const BY_HANDLE_FILE_INFORMATION& info, bool link) {
  if (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) return KIND_DEVICE;
  if (type != FILE_TYPE_DISK ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
      !platform_may_write(handle, &info)) {
    return KIND_REFUSED;
  }
  if (!link && !PLATFORM_NAME_BY_FINAL_PATH) return KIND_FILE;
  return by_final_path(r, handle, id_of(info), link);
}

// Looks at the output path before anything is made, leaving in r->target
// where the file to replace lives: the path as given, or what a link
// leads to, through a chain of them, or the name a link to nothing yet
// holds, and in r->look what it found (in place: it holds an access list,
// too large to pass around on a small stack). Only "no such file" makes a
// new file.
void look_at(Replacement* r, const char* path) {
  Look& look = r->look;
  look.kind = KIND_REFUSED;
  look.is_source = false;
  look.owner.access_list_length = 0;
  *put_text(r->target, path) = 0;
  BY_HANDLE_FILE_INFORMATION info;
  HANDLE handle;
  DWORD type;
  bool link = false;
  for (int depth = 0;; ++depth) {
    handle = look_handle(r->target, FILE_FLAG_OPEN_REPARSE_POINT);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_NOT_FOUND) look.kind = KIND_NEW;
      return;
    }
    type = platform_file_information(handle, &info, &look.owner);
    if (type != FILE_TYPE_DISK ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
      break;
    }
    // A link: the file at the end of its chain, where there is one.
    link = true;
    const HANDLE end = look_handle(r->target, 0);
    if (end != INVALID_HANDLE_VALUE) {
      CloseHandle(handle);
      handle = end;
      type = platform_file_information(handle, &info, &look.owner);
      break;
    }
    // A link to nothing yet: its target is made where it says, as opening
    // it would; a loop of links or a link the platform cannot read is not
    // followed.
    const bool dangling = GetLastError() == ERROR_FILE_NOT_FOUND;
    const DWORD n =
        dangling ? platform_link_target(handle, r->scratch, PLATFORM_PATH_BYTES)
                 : 0;
    CloseHandle(handle);
    if (n == 0 || n >= PLATFORM_PATH_BYTES || depth == LINK_DEPTH ||
        !follow_text(r->target, r->scratch)) {
      return;
    }
  }
  look.kind = classify(r, handle, type, info, link);
  if (look.kind == KIND_FILE) {
    look.id = id_of(info);
    look.is_source = r->source != nullptr && same_id(look.id, *r->source);
  }
  CloseHandle(handle);
}

// The name of the file beside the target: the target's name and a suffix
// of this run's own (its process id and the moment, which differ between
// runs that share a process id), the name shortened (never inside a UTF-8
// character) so that it stays within the limits of one name and of a
// whole path. False when not even the suffix fits: no name fits beside it.
bool temporary_name(const char* target, char* out) {
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now)) now.QuadPart = 0;
  char suffix[SUFFIX_MAX + 1];
  char* end = put_decimal(put_text(suffix, ".krelt-"), GetCurrentProcessId());
  *end++ = '-';
  end = put_hex(end, static_cast<uint32_t>(now.QuadPart), 8);
  *put_text(end, ".tmp") = 0;
  const uint32_t suffix_length = static_cast<uint32_t>(end + 4 - suffix);

  // Within the limit of a path in units, it fits PLATFORM_PATH_BYTES.
  const uint32_t folder = folder_length(target);
  const uint32_t folder_units = units_of(target, folder);
  if (folder_units + suffix_length >= PLATFORM_PATH_MAX) return false;
  const uint32_t keep =
      fitting_bytes(target + folder, PLATFORM_NAME_MAX - suffix_length,
                    PLATFORM_PATH_MAX - 1 - folder_units - suffix_length);
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

// Whatever the output's folder holds beside it could never be renamed or
// removed again: then nothing is made there but the output itself.
bool folder_keeps_names(Replacement* r) {
  const uint32_t folder = folder_length(r->target);
  char* at = r->scratch;
  for (uint32_t i = 0; i < folder; ++i) *at++ = r->target[i];
  // The folder's name without its last separator, unless that is all of
  // it (the root); "." where the output has no folder in its path.
  if (folder > 1) --at;
  if (folder == 0) *at++ = '.';
  *at = 0;
  return platform_folder_keeps_names(r->scratch) != 0;
}

// Creates a file of this run's own beside the target, never one that
// exists, so that runs writing one output at once each get their own: for
// an output that exists, private until it has the output's owner; for a
// new one, as a plain create makes it. OTHER_WAY where no name fits
// beside it, or the folder takes no new file.
Outcome create_beside(Replacement* r, HANDLE* file) {
  for (int attempt = 0; attempt < BESIDE_ATTEMPTS; ++attempt) {
    if (!temporary_name(r->target, r->beside)) return OTHER_WAY;
    *file = r->look.kind == KIND_FILE
                ? platform_create_private(r->beside, &r->look.owner)
                : CreateFileA(r->beside, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (*file != INVALID_HANDLE_VALUE) return DONE;
    // Too long a name or path, as the file system counts it, is a name
    // that does not fit beside the target either.
    const DWORD error = GetLastError();
    if (folder_refuses(error) || error == ERROR_FILENAME_EXCED_RANGE ||
        error == ERROR_PATH_NOT_FOUND) {
      return OTHER_WAY;
    }
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
  }
  return FAILED;
}

bool write_whole(HANDLE file, const void* data, uint32_t length) {
  DWORD put = 0;
  return WriteFile(file, data, length, &put, nullptr) != 0 && put == length;
}

// Renames the file beside over the target: 0, or the refusal. A refusal
// that an open handle causes passes once the handle is closed, so only
// that one is tried again.
DWORD rename_into_place(const Replacement* r) {
  for (int attempt = 0;; ++attempt) {
    if (MoveFileExA(r->beside, r->target, MOVEFILE_REPLACE_EXISTING)) return 0;
    const DWORD error = GetLastError();
    const bool passing =
        error == ERROR_SHARING_VIOLATION ||
        (PLATFORM_OPEN_FILE_BLOCKS_REPLACE && error == ERROR_ACCESS_DENIED);
    if (!passing || attempt + 1 == RENAME_ATTEMPTS) return error;
    Sleep(RENAME_PAUSE_MS);
  }
}

// The new file written beside the target and renamed over it. A rename
// refused while the target may still be written (a sticky folder, or the
// target a mount point) is OTHER_WAY; where an open file blocks a rename,
// its refusal cannot be told from the folder's, so it is a failure.
Outcome put_beside(Replacement* r) {
  platform_defer_interruptions(TRUE);
  HANDLE file = INVALID_HANDLE_VALUE;
  Outcome outcome = create_beside(r, &file);
  if (outcome == DONE) {
    // Written while still private, and only then given the old file's
    // owner, so that the write cannot clear its setuid and setgid bits.
    const bool written = write_whole(file, r->data, r->length) &&
                         (r->look.kind != KIND_FILE ||
                          platform_keep_identity(file, &r->look.owner));
    const bool closed = CloseHandle(file) != 0;
    const DWORD refusal =
        written && closed ? rename_into_place(r) : ERROR_GEN_FAILURE;
    if (refusal != 0) {
      DeleteFileA(r->beside);
      const bool kept =
          written && closed &&
          (refusal == ERROR_BUSY || (refusal == ERROR_ACCESS_DENIED &&
                                     !PLATFORM_OPEN_FILE_BLOCKS_REPLACE));
      outcome = kept ? OTHER_WAY : FAILED;
    }
  }
  platform_defer_interruptions(FALSE);
  return outcome;
}

// The image itself, in place: only its first bytes are written, in one
// write; a write cut short puts the old ones back.
bool write_header(HANDLE file, const Replacement* r) {
  char old[CHANGED_MAX];
  DWORD got = 0;
  DWORD put = 0;
  if (r->changed > CHANGED_MAX ||
      !ReadFile(file, old, r->changed, &got, nullptr) || got != r->changed ||
      SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) {
    return false;
  }
  if (write_whole(file, r->data, r->changed)) return true;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0) {
    WriteFile(file, old, got, &put, nullptr);
  }
  return false;
}

// Another file: emptied first, as a plain "wb" open does, so that a run
// stopped at any moment leaves it visibly short; emptied again when the
// write fails.
bool write_emptied(HANDLE file, const Replacement* r) {
  if (!SetEndOfFile(file)) return false;
  if (write_whole(file, r->data, r->length)) return true;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0) SetEndOfFile(file);
  return false;
}

// Where nothing can be put beside the target and renamed: an existing
// target written over, a new one made directly, as a plain create does,
// by one run at a time. Never written over where the data's own file
// cannot be told, as that may be the target itself. A failure removes
// what was written, or where the folder keeps every name leaves it empty.
// A new target another run made meanwhile is looked at again.
bool put_over(Replacement* r) {
  const bool made = r->look.kind == KIND_NEW;
  const bool in_place = r->look.is_source;
  if (!made && r->source == nullptr) return false;
  platform_defer_interruptions(TRUE);
  const HANDLE file = CreateFileA(
      r->target, in_place ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE, 0,
      nullptr, made ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
      nullptr);
  bool ok = false;
  if (file == INVALID_HANDLE_VALUE) {
    if (made && GetLastError() == ERROR_FILE_EXISTS) r->look.kind = KIND_AGAIN;
  } else {
    // Still the file looked at, and in place still the image's length.
    BY_HANDLE_FILE_INFORMATION info;
    const bool same =
        platform_write_alone(file) &&
        (made || (GetFileInformationByHandle(file, &info) != 0 &&
                  same_id(id_of(info), r->look.id) &&
                  (!in_place || (info.nFileSizeHigh == 0 &&
                                 info.nFileSizeLow == r->length))));
    ok = same && (in_place ? write_header(file, r) : write_emptied(file, r));
    const bool closed = CloseHandle(file) != 0;
    if (same && !in_place && !(ok && closed)) DeleteFileA(r->target);
    ok = ok && closed;
  }
  platform_defer_interruptions(FALSE);
  return ok;
}

// A device or pipe, written as it is: never created, emptied, removed or
// renamed. A file put in its place since the look is not written.
bool put_direct(const Replacement* r) {
  const HANDLE file =
      CreateFileA(r->target, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const DWORD type = GetFileType(file);
  const bool ok = (type == FILE_TYPE_CHAR || type == FILE_TYPE_PIPE) &&
                  write_whole(file, r->data, r->length);
  const bool closed = CloseHandle(file) != 0;
  return ok && closed;
}

bool put(Replacement* r) {
  switch (r->look.kind) {
    case KIND_DEVICE:
      return put_direct(r);
    case KIND_NEW:
    case KIND_FILE: {
      // What the output carries that cannot be read is kept by writing
      // over it, in its own file.
      const bool over =
          r->look.owner.access_list_length == PLATFORM_ACCESS_LIST_UNKNOWN ||
          (PLATFORM_FOLDERS_KEEP_NAMES && folder_keeps_names(r));
      const Outcome outcome = over ? OTHER_WAY : put_beside(r);
      return outcome == OTHER_WAY ? put_over(r) : outcome == DONE;
    }
    case KIND_AGAIN:
    case KIND_REFUSED:
      break;
  }
  return false;
}

}  // namespace

int stream_file_id(Stream* stream, FileId* id, uint64_t* length) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(stream->handle, &info)) return -1;
  *id = id_of(info);
  *length = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return 0;
}

int replace_file(const char* path, const void* data, uint32_t length,
                 const FileId* source, uint32_t changed) {
  const uint32_t bytes = text_length(path);
  if (bytes >= PLATFORM_PATH_BYTES ||
      units_of(path, bytes) >= PLATFORM_PATH_MAX) {
    return -1;
  }
  Replacement* r = static_cast<Replacement*>(heap_alloc(sizeof(Replacement)));
  if (r == nullptr) return -1;
  r->data = data;
  r->length = length;
  r->source = source;
  r->changed = changed;
  bool ok = false;
  for (int attempt = 0; attempt < LOOK_ATTEMPTS; ++attempt) {
    look_at(r, path);
    if (r->look.kind != KIND_AGAIN) ok = put(r);
    if (r->look.kind != KIND_AGAIN) break;
  }
  heap_free(r);
  return ok ? 0 : -1;
}
