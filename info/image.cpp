// The bim image Tamrisk files are compared with, and what remakes a file
// from it: the heap sizes that give its memory size, and the krelt command.
#include "converter/header.h"
#include "info/input.h"
#include "info/report.h"
#include "runtime/format.h"
#include "runtime/heap.h"

namespace {

char* put_text(char* at, const char* text) {
  while (*text != 0) *at++ = *text++;
  *at = 0;
  return at;
}

// Whether value is among the heap sizes from low up to high, through
// 0xFFFFFFFF to 0 where high is the lower.
bool in_range(uint32_t value, uint32_t low, uint32_t high) {
  return value - low <= high - low;
}

// The size in the range that reads most simply: the one with the most
// trailing zero bits (64k rather than 64929).
uint32_t simplest(uint32_t low, uint32_t high) {
  for (uint32_t bits = 31; bits > 0; --bits) {
    const uint32_t step = 1u << bits;
    const uint32_t candidate = (low + step - 1) & ~(step - 1);
    if (in_range(candidate, low, high)) return candidate;
  }
  return low;
}

// A size as krelt and the layers around it take it: in K, M or G where it
// is a whole number of them.
char* put_size(char* at, uint32_t value) {
  const char* suffix = "";
  uint32_t shift = 0;
  if (value != 0 && value % (1u << 30) == 0) {
    shift = 30;
    suffix = "g";
  } else if (value != 0 && value % (1u << 20) == 0) {
    shift = 20;
    suffix = "m";
  } else if (value != 0 && value % 1024 == 0) {
    shift = 10;
    suffix = "k";
  }
  at = put_decimal(at, value >> shift);
  return put_text(at, suffix);
}

// Bytes that stand for themselves outside quotes, to a POSIX shell and to
// cmd alike.
bool is_plain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c >= 0x80 || c == '_' || c == '-' ||
         c == '.' || c == '/' || c == ':' || c == ',' || c == '+' || c == '=' ||
         c == '@';
}

// A word of a command line: bare where every byte stands for itself; else
// in double quotes, which a POSIX shell, cmd and krelt's own command line
// all take, unless it holds $, ` or !, which a POSIX shell acts on there:
// then in single quotes, each ' as '\''. Up to 4 bytes a byte, and 2.
char* put_word(char* at, const char* word) {
  bool plain = *word != 0;
  bool posix_quotes = false;
  for (const char* c = word; *c != 0; ++c) {
    plain &= is_plain(static_cast<unsigned char>(*c));
    posix_quotes |= *c == '$' || *c == '`' || *c == '!';
  }
  if (plain) return put_text(at, word);
  const char quote = posix_quotes ? '\'' : '"';
  *at++ = quote;
  for (const char* c = word; *c != 0; ++c) {
    if (*c == '\'' && posix_quotes) {
      at = put_text(at, "'\\''");
    } else {
      *at++ = *c;
    }
  }
  *at++ = quote;
  *at = 0;
  return at;
}

bool holds_quote(const char* text) {
  for (; *text != 0; ++text) {
    if (*text == '"') return true;
  }
  return false;
}

}  // namespace

const Image* read_image(const char* path, char* why) {
  static Image image;
  Input in;
  const char* reason;
  if (!open_input(path, false, &in, &reason)) {
    put_text(why, reason);
    return nullptr;
  }
  unsigned char* bytes =
      static_cast<unsigned char*>(heap_alloc(MAX_IMAGE_SIZE + 1));
  uint32_t n = 0;
  if (bytes != nullptr)
    n = stream_read(bytes, 1, MAX_IMAGE_SIZE + 1, in.stream);
  const bool read = bytes != nullptr && stream_error(in.stream) == 0;
  close_input(&in);
  if (!read) {
    put_text(why, "cannot read the file");
  } else if (n > MAX_IMAGE_SIZE) {
    put_text(why, "larger than the 4194303 bytes krelt converts");
  } else if (n >= BIM_CHECK_B + 4 && is_bim_header(bytes)) {
    if (n >= HEADER_SIZE) {
      image = {path, bytes, n};
      return &image;
    }
    put_text(why, "shorter than the 36 bytes of the header");
  } else {
    put_found_words(why, "not a bim image: ", bytes, n);
  }
  return nullptr;
}

void add_remake(const Options& o, const unsigned char* header, bool same,
                Report* r) {
  r->image_compared = true;
  // krelt rounds heap start + heap size up to a multiple of 4096: the 4096
  // sums up to the memory size give it, and no heap gives any other.
  const uint32_t memory = get_u32le(header + V_MEMORY_SIZE);
  const uint32_t heap_start = bim_heap_start(o.image->bytes);
  r->heap_sizes_exist = memory % 4096 == 0;
  r->heap_low = memory - 4095 - heap_start;
  r->heap_high = memory - heap_start;
  // krelt reads neither standard input nor a '"' in its arguments.
  const char* image = o.image->path;
  const bool standard_input = r->path[0] == '-' && r->path[1] == 0;
  if (!same || !r->heap_sizes_exist || standard_input || holds_quote(r->path) ||
      holds_quote(image)) {
    return;
  }
  uint32_t heap = simplest(r->heap_low, r->heap_high);
  if (o.has_heap && in_range(o.heap, r->heap_low, r->heap_high)) heap = o.heap;
  const uint32_t room = 4 * (text_length(image) + text_length(r->path)) + 48;
  r->command = static_cast<char*>(heap_alloc(room));
  if (r->command == nullptr) return;
  char* at = put_text(r->command, "krelt ");
  at = put_word(at, image);
  at = put_text(at, " ");
  at = put_word(at, r->path);
  at = put_text(at, " ");
  at = put_size(at, heap);
  at = put_text(at, " ");
  put_size(at, get_u32le(header + V_MMAREA_SIZE));
}
