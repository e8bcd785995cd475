// krelt-info: shows what a file is, lists its header, and checks a Tamrisk
// application file for what krelt always produces.
#include "converter/header.h"
#include "converter/size.h"
#include "runtime/format.h"
#include "runtime/start.h"
#include "runtime/stream.h"

namespace {

const char USAGE[] = "usage>krelt-info [--heap heap-size] file...";

void out(const char* text) { stream_puts(text, &std_out); }

void end_line() { put_line(""); }

void field(const char* name, const char* value) {
  out(name);
  out(": ");
  out(value);
  end_line();
}

// "0x" and hex digits (8, or 16 for a value past 32 bits), then the value
// in decimal in brackets.
void out_number(uint32_t high, uint32_t low) {
  char text[NUMBER_ROOM];
  out("0x");
  if (high != 0) {
    put_hex(text, high, 8);
    out(text);
  }
  put_hex(text, low, 8);
  out(text);
  out(" (");
  // Groups of four decimal digits, by long division of 16-bit limbs so
  // that 32-bit arithmetic does; the last group comes out first.
  uint32_t limbs[4] = {high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF};
  uint32_t groups[5];
  uint32_t n = 0;
  do {
    uint32_t rest = 0;
    for (uint32_t& limb : limbs) {
      const uint32_t part = rest << 16 | limb;
      limb = part / 10000;
      rest = part % 10000;
    }
    groups[n++] = rest;
  } while ((limbs[0] | limbs[1] | limbs[2] | limbs[3]) != 0);
  for (uint32_t i = n; i-- > 0;) {
    put_number(text, groups[i], 10, i + 1 == n ? 1 : 4);
    out(text);
  }
  out(")");
}

void field_word(const char* name, uint32_t value) {
  out(name);
  out(": ");
  out_number(0, value);
  end_line();
}

// How a header field is shown.
enum class Show {
  word,        // hex and decimal
  text,        // four characters
  bytes,       // four bytes in hex, in file order
  jump_target  // the offset the jump at 0x1B reaches, hex and decimal
};

struct Field {
  const char* name;
  uint32_t offset;
  Show show;
};

// Each format's fields, in header order.
constexpr Field TAMRISK_FIELDS[] = {
    {"memory_size", V_MEMORY_SIZE, Show::word},
    {"signature", V_SIGNATURE, Show::text},
    {"mmarea_size", V_MMAREA_SIZE, Show::word},
    {"word_0c", V_WORD_0C, Show::word},
    {"word_10", V_WORD_10, Show::word},
    {"word_14", V_WORD_14, Show::word},
    {"jump_bytes", V_JUMP, Show::bytes},
    {"entry", V_JUMP_DISPLACEMENT, Show::jump_target},
    {"heap_start", V_HEAP_START, Show::word},
};
constexpr Field BIM_FIELDS[] = {
    {"word_0c", BIM_WORD_0C, Show::word}, {"word_10", BIM_WORD_10, Show::word},
    {"word_14", BIM_WORD_14, Show::word}, {"entry", BIM_ENTRY, Show::word},
    {"word_1c", BIM_WORD_1C, Show::word},
};

template <uint32_t N>
void list_fields(const Field (&fields)[N], const unsigned char* h) {
  for (const Field& f : fields) {
    const unsigned char* at = h + f.offset;
    switch (f.show) {
      case Show::word:
        field_word(f.name, get_u32le(at));
        break;
      case Show::jump_target:
        field_word(f.name, v_entry(h));
        break;
      case Show::text: {
        const char text[5] = {
            static_cast<char>(at[0]), static_cast<char>(at[1]),
            static_cast<char>(at[2]), static_cast<char>(at[3]), 0};
        field(f.name, text);
        break;
      }
      case Show::bytes: {
        char text[4 * 3 + 1];
        char* end = text;
        for (uint32_t i = 0; i < 4; ++i) {
          *end++ = ' ';
          end = put_hex(end, at[i], 2);
        }
        out(f.name);
        out(":");
        out(text);
        end_line();
        break;
      }
    }
  }
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

// A file's length: exact up to the image limit; past it, the file
// system's word, where it has one.
struct Length {
  uint32_t counted;  // MAX_IMAGE_SIZE + 1 and up: too large
  bool size_known;
  uint32_t size_low, size_high;
};

// Whether offset lies inside the file, as far as anyone can tell: past
// the image limit the file system's length counts, and where it has none
// nothing is known.
bool inside(uint32_t offset, const Length& length) {
  if (length.counted <= MAX_IMAGE_SIZE) return offset < length.counted;
  return !length.size_known || length.size_high != 0 ||
         offset < length.size_low;
}

int common_checks(uint32_t entry, const Length& length) {
  return check(inside(entry, length), "entry", "an offset inside the file") +
         check(length.counted <= MAX_IMAGE_SIZE, "length",
               "at most 4194303 bytes, as krelt converts no larger image");
}

int show_tamrisk(const unsigned char* h, const Length& length) {
  list_fields(TAMRISK_FIELDS, h);
  const uint32_t memory = get_u32le(h + V_MEMORY_SIZE);
  const uint32_t heap_start = get_u32le(h + V_HEAP_START);
  return check(get_u32le(h + V_JUMP) == V_JUMP_WORD, "jump_bytes",
               "bytes 00 00 00 E9 at 0x18, a near jump at 0x1B") +
         check(memory % 4096 == 0, "memory_size", "a multiple of 4096") +
         check(memory >= heap_start, "memory_size", "at least heap_start") +
         check(heap_start % 16 == 0, "heap_start", "a multiple of 16") +
         common_checks(v_entry(h), length);
}

// The header's fields, then what krelt would make of them.
int show_bim(const unsigned char* h, const Length& length,
             const char* heap_text) {
  list_fields(BIM_FIELDS, h);
  const uint32_t heap_start = bim_heap_start(h);
  field_word("heap_start", heap_start);
  if (heap_text != nullptr) {
    const uint32_t heap = static_cast<uint32_t>(parse_size(heap_text));
    field_word("heap_size", heap);
    field_word("memory_size", memory_size(heap_start, heap));
  }
  return common_checks(get_u32le(h + BIM_ENTRY), length);
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

// Reads on, as krelt does, to the image limit and one byte more, adding
// what it reads to *counted: a pipe, a FIFO or a /proc file is measured
// like any file. False when no buffer can be had.
bool count_to_limit(Stream* stream, uint32_t* counted) {
  constexpr uint32_t CHUNK = 0x10000;
  unsigned char* chunk = static_cast<unsigned char*>(heap_alloc(CHUNK));
  if (chunk == nullptr) return false;
  uint32_t got = CHUNK;
  while (got == CHUNK && *counted <= MAX_IMAGE_SIZE) {
    got = stream_read(chunk, 1, CHUNK, stream);
    *counted += got;
  }
  heap_free(chunk);
  return true;
}

void field_length(const Length& length) {
  out("length: ");
  if (length.counted <= MAX_IMAGE_SIZE) {
    out_number(0, length.counted);
  } else if (length.size_known) {
    out_number(length.size_high, length.size_low);
  } else {
    out("more than ");
    out_number(0, MAX_IMAGE_SIZE);
  }
  end_line();
}

// Lists one file; returns 0 when it was read and passed every check.
int inspect(const char* path, const char* heap_text) {
  field("file", path);
  Stream* stream = stream_open(path, "rb");
  if (stream == nullptr) {
    field("error", "cannot open the file");
    return 1;
  }
  unsigned char header[HEADER_SIZE];
  const uint32_t n = stream_read(header, 1, HEADER_SIZE, stream);
  Length length = {n, false, 0, 0};
  bool read = count_to_limit(stream, &length.counted);
  if (read && length.counted > MAX_IMAGE_SIZE) {
    length.size_known =
        stream_size(stream, &length.size_low, &length.size_high) == 0;
  }
  read = read && stream_error(stream) == 0;
  stream_close(stream);
  if (!read) {
    field("error", "cannot read the file");
    return 1;
  }

  const bool tamrisk = n >= V_SIGNATURE + 4 && has_signature(header);
  const bool bim = !tamrisk && n >= BIM_CHECK_B + 4 && is_bim_header(header);
  if (!tamrisk && !bim) {
    field("format", "unknown");
    field_length(length);
    field("error", "neither a Tamrisk application file nor a bim image");
    return 1;
  }
  field("format", tamrisk ? "Tamrisk application file" : "bim image");
  field_length(length);
  int failed;
  if (n < HEADER_SIZE) {
    failed = check(false, "length", "at least the 36 bytes of the header");
  } else {
    failed = tamrisk ? show_tamrisk(header, length)
                     : show_bim(header, length, heap_text);
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
  // Read by people and scripts (grep 'ok$'), so its lines end as the
  // platform's do; krelt's own messages keep CR LF everywhere.
  std_out.flags |= STREAM_PLATFORM_LINES;
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
