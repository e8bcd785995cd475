#include "platform/posix/command_line.h"

#include <string.h>

#include "platform/platform.h"

namespace {

// An argument with nothing left but what passes needs them too.
bool needs_quotes(const char* arg) {
  bool empty = true;
  for (; *arg != 0; ++arg) {
    if (static_cast<unsigned char>(*arg) <= 0x20) return true;
    if (*arg != '"') empty = false;
  }
  return empty;
}

}  // namespace

JoinResult join_arguments(int argc, char* const* argv, int read,
                          char** line_out) {
  *line_out = nullptr;
  size_t size = 1;
  for (int i = 0; i < argc; ++i) {
    const bool is_read = i >= 1 && i <= read;
    if (is_read && strchr(argv[i], '"') != nullptr) return JOIN_HAS_QUOTE;
    size += strlen(argv[i]) + 3;
  }
  char* line = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, size));
  if (line == nullptr) return JOIN_NO_MEMORY;
  char* out = line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) *out++ = ' ';
    const bool quote = needs_quotes(argv[i]);
    if (quote) *out++ = '"';
    for (const char* c = argv[i]; *c != 0; ++c) {
      if (*c != '"') *out++ = *c;
    }
    if (quote) *out++ = '"';
  }
  *out = 0;
  *line_out = line;
  return JOIN_OK;
}
