// Replacing a file so that no failure, limit or interruption leaves it
// changed but incomplete: the new contents are written beside it and take
// its place in one step.
#pragma once

#include <stdint.h>

#include "runtime/stream.h"

// Which file a name leads to, as the platform tells files apart.
struct FileId {
  uint32_t volume;
  uint32_t index_high;
  uint32_t index_low;
};

// The file behind an open stream: 0, or -1 when the platform cannot tell.
int stream_file_id(Stream* stream, FileId* id);

// Written under a fresh name beside the file and renamed over it at
// stream_commit; the name then names the old file or the new one, whole,
// at every moment.
constexpr uint32_t STREAM_BESIDE = 0x40;
// Written over an existing file in place, where its folder takes no new
// file: never emptied first, and its length set at stream_commit.
constexpr uint32_t STREAM_OVER = 0x80;
// What is written goes when the stream fails: the file beside, or a file
// written over (removed, or emptied where its folder refuses that).
// Clear for the file `source` names, which is never left less than whole.
constexpr uint32_t STREAM_UNDO = 0x100;

// The output is the file `source` names (stream_replace).
constexpr uint32_t STREAM_SOURCE = 0x200;

// Opens a replacement for the file at path (mode: w, optionally b). A
// symbolic link is followed and kept; a device, pipe or terminal, or a
// link to one, is written directly and never replaced. Where the folder
// takes no new file, an existing file is written over in place. `source`
// (may be null) is the file the data was read from: where that is the
// output, a write over it only ever changes the header. Null when the file
// cannot be replaced, with every file as it was. path must stay valid until
// the stream is committed or abandoned.
Stream* stream_replace(const char* path, const char* mode,
                       const FileId* source);

// Closes a stream from stream_replace and puts the new file in place: 0,
// or -1 after undoing what was written. The record is freed either way.
int stream_commit(Stream* stream);

// Closes a stream from stream_replace and undoes what it wrote; frees the
// record.
void stream_abandon(Stream* stream);
