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

// The file behind an open stream, and its length: 0, or -1 when the
// platform cannot tell.
int stream_file_id(Stream* stream, FileId* id, uint64_t* length);

// Puts data[0, length) at path in place of what is there: written beside
// it under a name of this run's own and renamed over it, so that the name
// leads to the old file or the new one, whole, at every moment. A symbolic
// link is followed and kept; a device, pipe or terminal, or a link to one,
// is written directly and never replaced. Where the folder takes no new
// file (or keeps the file from being renamed over), an existing file is
// written over instead: emptied first, or, where it is `source` (the file
// the data was read from), only its first `changed` bytes are written.
// `source` null means the data's file cannot be told: then the output is
// never written over. Interruptions wait while the file is being
// replaced. 0, or -1 with every file as it was (written over: removed, or
// emptied where that is refused; in place: whole).
int replace_file(const char* path, const void* data, uint32_t length,
                 const FileId* source, uint32_t changed);
