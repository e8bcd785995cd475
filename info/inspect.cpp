// Inspection: a file read as krelt reads it, its format told, its fields
// listed and its checks made, all into its report. Each format is one
// table of fields and one list of checks.
#include "converter/header.h"
#include "info/input.h"
#include "info/report.h"
#include "runtime/format.h"
#include "runtime/heap.h"

namespace {

// How a header field is shown.
enum class Show {
  word,         // a number
  text,         // four characters
  bytes,        // four bytes in hex, in file order
  jump_target,  // the offset the jump at 0x1B reaches
  bim_heap_start,
  bim_memory_size,  // what krelt records for the --heap given
  heap_given,
  mmarea_given,
};

struct Field {
  const char* name;
  uint32_t offset;
  Show show;
};

// Each format's fields, in header order, then what is computed. A word
// that krelt moves has no name here: it keeps its bim name (name_of).
constexpr Field TAMRISK_FIELDS[] = {
    {"memory_size", V_MEMORY_SIZE, Show::word},
    {"signature", V_SIGNATURE, Show::text},
    {"mmarea_size", V_MMAREA_SIZE, Show::word},
    {nullptr, V_WORD_0C, Show::word},
    {nullptr, V_WORD_10, Show::word},
    {nullptr, V_WORD_14, Show::word},
    {"jump_bytes", V_JUMP, Show::bytes},
    {"entry", V_JUMP_DISPLACEMENT, Show::jump_target},
    {"heap_start", V_HEAP_START, Show::word},
};
constexpr Field BIM_FIELDS[] = {
    {"word_0c", BIM_WORD_0C, Show::word},
    {"word_10", BIM_WORD_10, Show::word},
    {"word_14", BIM_WORD_14, Show::word},
    {"entry", BIM_ENTRY, Show::word},
    {"word_1c", BIM_WORD_1C, Show::word},
    {"heap_start", 0, Show::bim_heap_start},
    // Only with --heap and --mmarea.
    {"heap_size", 0, Show::heap_given},
    {"memory_size", 0, Show::bim_memory_size},
    {"mmarea_size", 0, Show::mmarea_given},
};

const char* bim_name(uint32_t offset) {
  for (const Field& bim : BIM_FIELDS) {
    if (bim.show == Show::word && bim.offset == offset) return bim.name;
  }
  return "unnamed";
}

// The bim word krelt moves to a Tamrisk offset.
const MovedWord* moved_to(uint32_t v_offset) {
  for (const MovedWord& moved : MOVED_WORDS) {
    if (moved.v_offset == v_offset) return &moved;
  }
  return nullptr;
}

// A field's name; a moved word's is the name of the bim word it came from.
const char* name_of(const Field& f) {
  if (f.name != nullptr) return f.name;
  const MovedWord* moved = moved_to(f.offset);
  return moved != nullptr ? bim_name(moved->bim_offset) : "unnamed";
}

constexpr Value NONE = {VALUE_NONE, 0, 0, {}};

Value number(uint32_t value) { return {VALUE_NUMBER, 0, value, {}}; }

Value text_value(const unsigned char* at, Show show) {
  Value v = {VALUE_TEXT, 0, 0, {}};
  char* end = v.text;
  for (uint32_t i = 0; i < 4; ++i) {
    if (show == Show::text) {
      *end++ = static_cast<char>(at[i]);
      continue;
    }
    if (i > 0) *end++ = ' ';
    end = put_hex(end, at[i], 2);
  }
  *end = 0;
  return v;
}

// A field's value; NONE for a size that was not given.
Value value_of(const Field& f, const unsigned char* h, const Options& o) {
  switch (f.show) {
    case Show::word:
      return number(get_u32le(h + f.offset));
    case Show::text:
    case Show::bytes:
      return text_value(h + f.offset, f.show);
    case Show::jump_target:
      return number(v_entry(h));
    case Show::bim_heap_start:
      return number(bim_heap_start(h));
    case Show::bim_memory_size:
      return o.has_heap ? number(memory_size(bim_heap_start(h), o.heap)) : NONE;
    case Show::heap_given:
      return o.has_heap ? number(o.heap) : NONE;
    case Show::mmarea_given:
      return o.has_mmarea ? number(o.mmarea) : NONE;
  }
  return NONE;
}

template <uint32_t N>
void add_fields(const Field (&fields)[N], const unsigned char* h,
                const Options& o, Report* r) {
  for (const Field& f : fields) {
    const Value v = value_of(f, h, o);
    if (v.kind != VALUE_NONE) r->fields[r->field_count++] = {name_of(f), v};
  }
}

// Returns passed, so that a group of checks can tell whether all passed.
bool add_check(Report* r, bool passed, const char* field, Value value,
               const char* rule, Value expected = NONE) {
  r->checks[r->check_count++] = {field, value, expected, rule, passed};
  if (!passed) ++r->failed;
  return passed;
}

const char TOO_LARGE[] =
    "at most 4194303 bytes, as krelt converts no larger image";
const char MADE[] = "what krelt makes of the image";

// What reading a file gave: its first bytes, how much it holds up to the
// image limit, and where it first differs from the image compared.
struct Reading {
  unsigned char header[HEADER_SIZE];
  uint32_t n;        // bytes of header read
  uint32_t counted;  // MAX_IMAGE_SIZE + 1 and up: too large
  bool differs;
  uint32_t differs_at;
};

void compare(const unsigned char* bytes, uint32_t got, const Image& image,
             Reading* g) {
  for (uint32_t i = 0; i < got && !g->differs; ++i) {
    const uint32_t at = g->counted + i;
    if (at >= image.length) break;
    if (bytes[i] != image.bytes[at]) {
      g->differs = true;
      g->differs_at = at;
    }
  }
}

// Reads on, as krelt does, to the image limit and one byte more,
// comparing with the image where one is given: a pipe, a FIFO or a /proc
// file is measured like any file. False when no buffer can be had.
bool read_rest(Stream* stream, const Image* image, Reading* g) {
  constexpr uint32_t CHUNK = 0x10000;
  unsigned char* chunk = static_cast<unsigned char*>(heap_alloc(CHUNK));
  if (chunk == nullptr) return false;
  uint32_t got = CHUNK;
  while (got == CHUNK && g->counted <= MAX_IMAGE_SIZE) {
    got = stream_read(chunk, 1, CHUNK, stream);
    if (image != nullptr) compare(chunk, got, *image, g);
    g->counted += got;
  }
  heap_free(chunk);
  return true;
}

// Exact up to the image limit; past it, the file system's word, where it
// has one.
Value length_of(const Reading& g, const Input& in) {
  if (g.counted <= MAX_IMAGE_SIZE) return number(g.counted);
  if (!in.length_known || in.length <= MAX_IMAGE_SIZE) {
    return {VALUE_PAST_LIMIT, 0, 0, {}};
  }
  return {VALUE_NUMBER,
          static_cast<uint32_t>(in.length >> 32),
          static_cast<uint32_t>(in.length),
          {}};
}

// Whether offset lies inside the file, as far as anyone can tell.
bool inside(uint32_t offset, const Value& length) {
  if (length.kind != VALUE_NUMBER) return true;
  return length.high != 0 || offset < length.low;
}

void common_checks(Report* r, uint32_t entry, const Reading& g) {
  add_check(r, inside(entry, r->length), "entry", number(entry),
            "an offset inside the file");
  add_check(r, g.counted <= MAX_IMAGE_SIZE, "length", r->length, TOO_LARGE);
}

void tamrisk_checks(Report* r, const Reading& g, const Options& o) {
  const unsigned char* h = g.header;
  const uint32_t memory = get_u32le(h + V_MEMORY_SIZE);
  const uint32_t heap_start = get_u32le(h + V_HEAP_START);
  add_check(r, get_u32le(h + V_JUMP) == V_JUMP_WORD, "jump_bytes",
            text_value(h + V_JUMP, Show::bytes),
            "bytes 00 00 00 E9 at 0x18, a near jump at 0x1B");
  add_check(r, memory % 4096 == 0, "memory_size", number(memory),
            "a multiple of 4096");
  add_check(r, memory >= heap_start, "memory_size", number(memory),
            "at least heap_start");
  add_check(r, heap_start % 16 == 0, "heap_start", number(heap_start),
            "a multiple of 16");
  common_checks(r, v_entry(h), g);
  if (o.has_heap) {
    // krelt takes the heap start from the image, where there is one.
    const uint32_t start =
        o.image != nullptr ? bim_heap_start(o.image->bytes) : heap_start;
    const uint32_t want = memory_size(start, o.heap);
    add_check(r, memory == want, "memory_size", number(memory),
              "what krelt writes for the heap size given", number(want));
  }
  if (o.has_mmarea) {
    const uint32_t mmarea = get_u32le(h + V_MMAREA_SIZE);
    add_check(r, mmarea == o.mmarea, "mmarea_size", number(mmarea),
              "the mmarea size given", number(o.mmarea));
  }
  if (o.has_max_memory) {
    add_check(r, memory <= o.max_memory, "memory_size", number(memory),
              "the memory budget given, or less", number(o.max_memory));
  }
}

// Every byte krelt makes of the image but the sizes: the moved words, the
// jump, the heap start, the length and the body. True when all match.
bool image_checks(Report* r, const Reading& g, const Image& image) {
  const unsigned char* h = g.header;
  const unsigned char* b = image.bytes;
  bool same = get_u32le(h + V_JUMP) == V_JUMP_WORD;
  for (const MovedWord& moved : MOVED_WORDS) {
    const uint32_t holds = get_u32le(h + moved.v_offset);
    const uint32_t want = get_u32le(b + moved.bim_offset);
    same &= add_check(r, holds == want, bim_name(moved.bim_offset),
                      number(holds), MADE, number(want));
  }
  const uint32_t entry = get_u32le(b + BIM_ENTRY);
  same &= add_check(r, v_entry(h) == entry, "entry", number(v_entry(h)), MADE,
                    number(entry));
  const uint32_t heap_start = get_u32le(h + V_HEAP_START);
  same &= add_check(r, heap_start == bim_heap_start(b), "heap_start",
                    number(heap_start), MADE, number(bim_heap_start(b)));
  same &= add_check(r, g.counted == image.length, "length", r->length, MADE,
                    number(image.length));
  const Value differs = {VALUE_DIFFERS_AT, 0, g.differs_at, {}};
  same &= add_check(r, !g.differs, "body", g.differs ? differs : NONE,
                    "the image's bytes after the header");
  return same;
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

void set_error(Report* r, const char* why) {
  uint32_t i = 0;
  for (; why[i] != 0 && i + 1 < ERROR_ROOM; ++i) r->error[i] = why[i];
  r->error[i] = 0;
}

}  // namespace

const char* format_name(Format format) {
  switch (format) {
    case FORMAT_TAMRISK:
      return "Tamrisk application file";
    case FORMAT_BIM:
      return "bim image";
    case FORMAT_UNREAD:
    case FORMAT_UNKNOWN:
      break;
  }
  return "unknown";
}

void inspect(const char* path, const Options& o, Report* r) {
  r->path = path;
  r->format = FORMAT_UNREAD;
  r->length = NONE;
  r->field_count = 0;
  r->check_count = 0;
  r->failed = 0;
  r->image_compared = false;
  r->heap_sizes_exist = false;
  r->command = nullptr;
  r->error[0] = 0;
  Input in;
  const char* why;
  if (!open_input(path, true, &in, &why)) {
    set_error(r, why);
    return;
  }
  Reading g;
  g.n = stream_read(g.header, 1, HEADER_SIZE, in.stream);
  g.counted = g.n;
  g.differs = false;
  g.differs_at = 0;
  const unsigned char* h = g.header;
  const bool tamrisk = g.n >= V_SIGNATURE + 4 && has_signature(h);
  const bool bim = !tamrisk && g.n >= BIM_CHECK_B + 4 && is_bim_header(h);
  const bool whole = g.n == HEADER_SIZE;
  const Image* image = tamrisk && whole ? o.image : nullptr;
  const bool read =
      read_rest(in.stream, image, &g) && stream_error(in.stream) == 0;
  close_input(&in);
  if (!read) {
    set_error(r, "cannot read the file");
    return;
  }

  r->format = tamrisk ? FORMAT_TAMRISK : bim ? FORMAT_BIM : FORMAT_UNKNOWN;
  r->length = length_of(g, in);
  if (!tamrisk && !bim) {
    put_found_words(r->error,
                    "neither a Tamrisk application file nor a bim image: ", h,
                    g.n);
  } else if (!whole) {
    add_check(r, false, "length", r->length,
              "at least the 36 bytes of the header");
  } else if (tamrisk) {
    add_fields(TAMRISK_FIELDS, h, o, r);
    tamrisk_checks(r, g, o);
    if (image != nullptr) {
      const bool same = image_checks(r, g, *image);
      add_remake(o, h, same, r);
    }
  } else {
    add_fields(BIM_FIELDS, h, o, r);
    common_checks(r, get_u32le(h + BIM_ENTRY), g);
    if (o.has_heap && o.has_max_memory) {
      const uint32_t memory = memory_size(bim_heap_start(h), o.heap);
      add_check(r, memory <= o.max_memory, "memory_size", number(memory),
                "the memory budget given, or less", number(o.max_memory));
    }
  }
}

void report_free(Report* report) {
  if (report->command != nullptr) heap_free(report->command);
  report->command = nullptr;
}
