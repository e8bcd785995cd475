// krelt-info: shows what a file is, lists its header, and checks a Tamrisk
// application file for what krelt always produces.
#include "converter/header.h"
#include "converter/size.h"
#include "runtime/start.h"
#include "runtime/stream.h"

namespace {

const char USAGE[] = "usage>krelt-info [--heap heap-size] file...";
// krelt refuses an image that fills its 4 MiB buffer.
constexpr uint32_t MAX_IMAGE = 0x3FFFFF;

void out(const char* text) { stream_puts(text, &std_out); }

void end_line() { put_line(""); }

void out_hex_digits(uint32_t value) {
  char text[9];
  for (int i = 0; i < 8; ++i) {
    text[i] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 0xF];
  }
  text[8] = 0;
  out(text);
}

void out_hex(uint32_t value) {
  out("0x");
  out_hex_digits(value);
}

// A 64-bit value in decimal, by long division of 16-bit limbs: 32-bit
// arithmetic only, so no runtime library routine is needed.
void out_decimal64(uint32_t high, uint32_t low) {
  uint32_t limbs[4] = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
  char text[21];
  int at = 20;
  text[at] = 0;
  do {
    uint32_t rest = 0;
    for (uint32_t& limb : limbs) {
      const uint32_t part = rest << 16 | limb;
      limb = part / 10;
      rest = part % 10;
    }
    text[--at] = static_cast<char>('0' + rest);
  } while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0);
  out(text + at);
}

void out_decimal(uint32_t value) { out_decimal64(0, value); }

void field(const char* name, const char* value) {
  out(name);
  out(": ");
  out(value);
  end_line();
}

void field_word(const char* name, uint32_t value) {
  out(name);
  out(": ");
  out_hex(value);
  out(" (");
  out_decimal(value);
  out(")");
  end_line();
}

// One line for a failed check; returns 1 for failed, 0 for passed.
int check(bool passed, const char* name, const char* expected) {
  if (passed) return 0;
  out("check failed: ");
  out(name);
  out(": expected ");
  out(expected);
  end_line();
  return 1;
}

// What reading a file found: its first bytes and its length, exact up to
// the image limit; past it, the file system's word, where it has one.
struct Contents {
  unsigned char header[HEADER_SIZE];
  uint32_t header_bytes;
  uint32_t length;  // MAX_IMAGE + 1 and up: too large
  uint32_t size_low, size_high;
  bool size_known;
};

// Whether offset lies inside the file, as far as anyone can tell: past
// the image limit the file system's length counts, and where it has none
// nothing is known.
bool inside(uint32_t offset, const Contents& c) {
  if (c.length <= MAX_IMAGE) return offset < c.length;
  return !c.size_known || c.size_high != 0 || offset < c.size_low;
}

int common_checks(uint32_t entry, const Contents& c) {
  return check(inside(entry, c), "entry", "an offset inside the file") +
         check(c.length <= MAX_IMAGE, "length",
               "at most 4194303 bytes, as krelt converts no larger image");
}

int show_tamrisk(const unsigned char* h, const Contents& c) {
  const uint32_t memory = get_u32le(h + V_MEMORY_SIZE);
  const uint32_t heap_start = get_u32le(h + V_HEAP_START);
  const uint32_t entry = get_u32le(h + V_JUMP_DISPLACEMENT) + V_JUMP_END;
  field_word("memory_size", memory);
  field("signature", "MOGE");
  field_word("mmarea_size", get_u32le(h + V_MMAREA_SIZE));
  field_word("word_0c", get_u32le(h + V_WORD_0C));
  field_word("word_10", get_u32le(h + V_WORD_10));
  field_word("word_14", get_u32le(h + V_WORD_14));
  out("jump_bytes:");
  for (uint32_t i = V_JUMP; i < V_JUMP_DISPLACEMENT; ++i) {
    const char hex[4] = {' ', "0123456789ABCDEF"[h[i] >> 4],
                         "0123456789ABCDEF"[h[i] & 0xF], 0};
    out(hex);
  }
  end_line();
  field_word("entry", entry);
  field_word("heap_start", heap_start);
  return check(get_u32le(h + V_JUMP) == V_JUMP_WORD, "jump_bytes",
               "bytes 00 00 00 E9 at 0x18, a near jump at 0x1B") +
         check(memory % 4096 == 0, "memory_size", "a multiple of 4096") +
         check(memory >= heap_start, "memory_size", "at least heap_start") +
         check(heap_start % 16 == 0, "heap_start", "a multiple of 16") +
         common_checks(entry, c);
}

int show_bim(const unsigned char* h, const Contents& c, const char* heap_text) {
  const uint32_t heap_start = bim_heap_start(h);
  const uint32_t entry = get_u32le(h + BIM_ENTRY);
  field_word("word_0c", get_u32le(h + BIM_WORD_0C));
  field_word("word_10", get_u32le(h + BIM_WORD_10));
  field_word("word_14", get_u32le(h + BIM_WORD_14));
  field_word("entry", entry);
  field_word("word_1c", get_u32le(h + BIM_WORD_1C));
  field_word("heap_start", heap_start);
  if (heap_text != nullptr) {
    const uint32_t heap = static_cast<uint32_t>(parse_size(heap_text));
    field_word("heap_size", heap);
    field_word("memory_size", memory_size(heap_start, heap));
  }
  return common_checks(entry, c);
}

bool has_signature(const unsigned char* h) {
  for (uint32_t i = 0; i < sizeof V_SIGNATURE_BYTES; ++i) {
    if (h[V_SIGNATURE + i] !=
        static_cast<unsigned char>(V_SIGNATURE_BYTES[i])) {
      return false;
    }
  }
  return true;
}

// Reads the way krelt does, up to the image limit and one byte more, so a
// pipe, a FIFO or a /proc file is read like any file. False on a read
// error.
bool read_contents(Stream* stream, Contents* c) {
  c->header_bytes = stream_read(c->header, 1, HEADER_SIZE, stream);
  c->length = c->header_bytes;
  c->size_known = false;
  constexpr uint32_t CHUNK = 0x10000;
  unsigned char* chunk = static_cast<unsigned char*>(heap_alloc(CHUNK));
  if (chunk == nullptr) return false;
  uint32_t got = c->header_bytes == HEADER_SIZE ? CHUNK : 0;
  while (got == CHUNK && c->length <= MAX_IMAGE) {
    got = stream_read(chunk, 1, CHUNK, stream);
    c->length += got;
  }
  heap_free(chunk);
  if (c->length > MAX_IMAGE) {
    c->size_known = stream_size(stream, &c->size_low, &c->size_high) == 0;
  }
  return stream_error(stream) == 0;
}

void field_length(const Contents& c) {
  if (c.length <= MAX_IMAGE) {
    field_word("length", c.length);
  } else if (!c.size_known) {
    out("length: more than ");
    out_hex(MAX_IMAGE);
    out(" (");
    out_decimal(MAX_IMAGE);
    out(")");
    end_line();
  } else {
    out("length: 0x");
    if (c.size_high != 0) out_hex_digits(c.size_high);
    out_hex_digits(c.size_low);
    out(" (");
    out_decimal64(c.size_high, c.size_low);
    out(")");
    end_line();
  }
}

// Lists one file; returns 0 when it was read and passed every check.
int inspect(const char* path, const char* heap_text) {
  field("file", path);
  Stream* stream = stream_open(path, "rb");
  if (stream == nullptr) {
    field("error", "cannot open the file");
    return 1;
  }
  Contents contents;
  const bool read = read_contents(stream, &contents);
  stream_close(stream);
  if (!read) {
    field("error", "cannot read the file");
    return 1;
  }
  const unsigned char* header = contents.header;
  const uint32_t n = contents.header_bytes;

  const bool tamrisk = n >= V_SIGNATURE + 4 && has_signature(header);
  const bool bim = !tamrisk && n >= BIM_CHECK_B + 4 && is_bim_header(header);
  if (!tamrisk && !bim) {
    field("format", "unknown");
    field_length(contents);
    field("error", "neither a Tamrisk application file nor a bim image");
    return 1;
  }
  field("format", tamrisk ? "Tamrisk application file" : "bim image");
  field_length(contents);
  int failed;
  if (n < HEADER_SIZE) {
    failed = check(false, "length", "at least the 36 bytes of the header");
  } else {
    failed = tamrisk ? show_tamrisk(header, contents)
                     : show_bim(header, contents, heap_text);
  }
  field("result", failed == 0 ? "ok" : "failed");
  return failed == 0 ? 0 : 1;
}

bool same_text(const char* a, const char* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

}  // namespace

int app::main(int argc, char** argv) {
  int first = 1;
  const char* heap_text = nullptr;
  if (argc > 2 && same_text(argv[1], "--heap")) {
    heap_text = argv[2];
    first = 3;
  }
  if (first >= argc) {
    put_line(USAGE);
    return 1;
  }
  int status = 0;
  for (int i = first; i < argc; ++i) {
    if (i > first) end_line();
    if (inspect(argv[i], heap_text) != 0) status = 1;
  }
  return status;
}
