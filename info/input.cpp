#include "info/input.h"

#include "converter/header.h"
#include "info/report.h"
#include "runtime/format.h"

namespace {

const char* reason(OpenFailure failure) {
  switch (failure) {
    case OPEN_NO_SUCH_FILE:
      return "no such file";
    case OPEN_DENIED:
      return "permission denied";
    case OPEN_FOLDER:
      return "is a folder";
    case OPEN_SOCKET:
      return "is a socket";
    case OPEN_LINK_LOOP:
      return "a loop of links";
    case OPEN_OTHER:
      break;
  }
  return "cannot open the file";
}

char* put_text(char* at, const char* text) {
  while (*text != 0) *at++ = *text++;
  *at = 0;
  return at;
}

}  // namespace

bool open_input(const char* path, bool dash_is_std_in, Input* input,
                const char** why) {
  input->is_std_in = dash_is_std_in && path[0] == '-' && path[1] == 0;
  input->stream = &std_in;
  if (input->is_std_in) {
    std_in.flags |= STREAM_BINARY;
  } else {
    input->stream = stream_open(path, "rb");
    if (input->stream == nullptr) {
      *why = reason(stream_open_failure(path));
      return false;
    }
  }
  StreamKind kind;
  const bool known = stream_kind(input->stream, &kind, &input->length) == 0;
  input->length_known = known && kind == STREAM_FILE;
  // POSIX opens a folder for reading; only the reads fail.
  if (known && kind == STREAM_FOLDER) {
    close_input(input);
    *why = "is a folder";
    return false;
  }
  return true;
}

void close_input(Input* input) {
  if (!input->is_std_in) stream_close(input->stream);
}

void put_found_words(char* room, const char* text, const unsigned char* bytes,
                     uint32_t n) {
  char* at = put_text(room, text);
  const uint32_t offsets[] = {BIM_CHECK_A, BIM_CHECK_B};
  for (uint32_t offset : offsets) {
    if (offset != BIM_CHECK_A) at = put_text(at, ", ");
    if (n < offset + 4) {
      at = put_text(at, "the file ends at 0x");
      put_hex(at, n, 2);
      return;
    }
    at = put_text(at, "0x");
    at = put_hex(at, get_u32le(bytes + offset), 8);
    at = put_text(at, " at 0x");
    at = put_hex(at, offset, 2);
  }
}
