// krelt-info: says what each file is, lists its header and checks it for
// what krelt produces; a build checks its outputs with it. Each format is
// one table of fields and one list of checks, which the text listing and
// the JSON lines both print.
#include "converter/header.h"
#include "converter/size.h"
#include "converter/version.h"
#include "platform/platform.h"
#include "runtime/format.h"
#include "runtime/heap.h"
#include "runtime/start.h"
#include "runtime/stream.h"

namespace {

const char USAGE[] =
    "usage: krelt-info [--heap SIZE] [--mmarea SIZE] [--json] [--] FILE...";
const char HELP[] =
    "List the header of each Tamrisk application file or bim image and\n"
    "check it for what krelt produces. FILE - is standard input.\n"
    "\n"
    "  --heap SIZE    a .v: its memory size must be what krelt writes for\n"
    "                 this heap size; a bim image: show that memory size\n"
    "  --mmarea SIZE  a .v: its mmarea size must be this\n"
    "  --json         one JSON object a line for each file\n"
    "  --help         this text\n"
    "  --version      the version\n"
    "\n"
    "Sizes as krelt takes them: 64k, 0x10000, 1m. Exit 0 when every file\n"
    "passes, 1 when a check fails or a file cannot be read, 2 for a usage\n"
    "error.\n";

void out(const char* text) { stream_puts(text, &std_out); }

void end_line() { put_line(""); }

// Decimal digits of high:low, in groups of four by long division of 16-bit
// limbs so that 32-bit arithmetic does; the last group comes out first.
void out_decimal(uint32_t high, uint32_t low) {
  char text[NUMBER_ROOM];
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
  out_decimal(high, low);
  out(")");
}

// The length of a valid UTF-8 sequence at p (no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0.
uint32_t utf8_length(const unsigned char* p) {
  const uint32_t c = p[0];
  if (c < 0x80) return 1;
  uint32_t n = 4;
  uint32_t low = 0x80;
  uint32_t high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;
    if (c == 0xED) high = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (p[1] < low || p[1] > high) return 0;
  for (uint32_t i = 2; i < n; ++i) {
    if ((p[i] & 0xC0) != 0x80) return 0;
  }
  return n;
}

// A JSON string of any bytes: valid UTF-8 passes unchanged, '"', '\' and
// control characters are escaped, and each byte that is not part of valid
// UTF-8 becomes U+FFFD, so that the line is always valid JSON.
void out_json_string(const char* text) {
  out("\"");
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  while (*p != 0) {
    const uint32_t n = utf8_length(p);
    if (n == 0) {
      out("\\ufffd");
      ++p;
    } else if (*p < 0x20 || *p == '"' || *p == '\\' || *p == 0x7F) {
      char escape[7] = {'\\', 'u', '0', '0', 0, 0, 0};
      put_hex(escape + 4, *p, 2);
      out(escape);
      ++p;
    } else {
      stream_write(p, 1, n, &std_out);
      p += n;
    }
  }
  out("\"");
}

struct Options {
  const char* heap;    // null when not given
  const char* mmarea;  // null when not given
  bool json;
  bool several;  // more than one file: each message names its file
};

// How a header field is shown.
enum class Show {
  word,         // hex and decimal; a JSON number
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

// A field's name; a moved word's is the name of the bim word it came from.
const char* name_of(const Field& f) {
  if (f.name != nullptr) return f.name;
  for (const MovedWord& moved : MOVED_WORDS) {
    if (moved.v_offset != f.offset) continue;
    for (const Field& bim : BIM_FIELDS) {
      if (bim.show == Show::word && bim.offset == moved.bim_offset) {
        return bim.name;
      }
    }
  }
  return "unnamed";
}

uint32_t size_of(const char* text) {
  return static_cast<uint32_t>(parse_size(text));
}

// The value of a field shown as a number; false for a field with none
// here (a size that was not given).
bool number_of(const Field& f, const unsigned char* h, const Options& o,
               uint32_t* value) {
  switch (f.show) {
    case Show::word:
      *value = get_u32le(h + f.offset);
      return true;
    case Show::jump_target:
      *value = v_entry(h);
      return true;
    case Show::bim_heap_start:
      *value = bim_heap_start(h);
      return true;
    case Show::heap_given:
      *value = o.heap != nullptr ? size_of(o.heap) : 0;
      return o.heap != nullptr;
    case Show::bim_memory_size:
      *value = o.heap != nullptr
                   ? memory_size(bim_heap_start(h), size_of(o.heap))
                   : 0;
      return o.heap != nullptr;
    case Show::mmarea_given:
      *value = o.mmarea != nullptr ? size_of(o.mmarea) : 0;
      return o.mmarea != nullptr;
    case Show::text:
    case Show::bytes:
      break;
  }
  return false;
}

// The text of a text or bytes field, in room for 13 characters.
bool text_of(const Field& f, const unsigned char* h, char* text) {
  const unsigned char* at = h + f.offset;
  if (f.show == Show::text) {
    for (uint32_t i = 0; i < 4; ++i) text[i] = static_cast<char>(at[i]);
    text[4] = 0;
    return true;
  }
  if (f.show == Show::bytes) {
    char* end = text;
    for (uint32_t i = 0; i < 4; ++i) {
      if (i > 0) *end++ = ' ';
      end = put_hex(end, at[i], 2);
    }
    return true;
  }
  return false;
}

template <uint32_t N>
void list_fields(const Field (&fields)[N], const unsigned char* h,
                 const Options& o) {
  bool first = true;
  for (const Field& f : fields) {
    char text[13];
    uint32_t value;
    const bool number = number_of(f, h, o, &value);
    if (!number && !text_of(f, h, text)) continue;
    if (o.json) {
      out(first ? "" : ",");
      out_json_string(name_of(f));
      out(":");
      if (number) {
        out_decimal(0, value);
      } else {
        out_json_string(text);
      }
    } else {
      out(name_of(f));
      out(": ");
      if (number) {
        out_number(0, value);
      } else {
        out(text);
      }
      end_line();
    }
    first = false;
  }
}

// One check of a file: the field it is about, what krelt produces there,
// and, for a check against a size given, the value expected.
struct Check {
  const char* field;
  const char* expected;
  bool passed;
  bool has_value;
  uint32_t value;
};

constexpr uint32_t MOST_CHECKS = 10;

struct Checks {
  Check list[MOST_CHECKS];
  uint32_t count;
  uint32_t failed;
};

void add(Checks* c, bool passed, const char* field, const char* expected,
         bool has_value = false, uint32_t value = 0) {
  c->list[c->count++] = {field, expected, passed, has_value, value};
  if (!passed) ++c->failed;
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

void common_checks(Checks* c, uint32_t entry, const Length& length) {
  add(c, inside(entry, length), "entry", "an offset inside the file");
  add(c, length.counted <= MAX_IMAGE_SIZE, "length",
      "at most 4194303 bytes, as krelt converts no larger image");
}

void tamrisk_checks(Checks* c, const unsigned char* h, const Length& length,
                    const Options& o) {
  const uint32_t memory = get_u32le(h + V_MEMORY_SIZE);
  const uint32_t heap_start = get_u32le(h + V_HEAP_START);
  add(c, get_u32le(h + V_JUMP) == V_JUMP_WORD, "jump_bytes",
      "bytes 00 00 00 E9 at 0x18, a near jump at 0x1B");
  add(c, memory % 4096 == 0, "memory_size", "a multiple of 4096");
  add(c, memory >= heap_start, "memory_size", "at least heap_start");
  add(c, heap_start % 16 == 0, "heap_start", "a multiple of 16");
  common_checks(c, v_entry(h), length);
  if (o.heap != nullptr) {
    const uint32_t want = memory_size(heap_start, size_of(o.heap));
    add(c, memory == want, "memory_size",
        "what krelt writes for the heap size given", true, want);
  }
  if (o.mmarea != nullptr) {
    const uint32_t want = size_of(o.mmarea);
    add(c, get_u32le(h + V_MMAREA_SIZE) == want, "mmarea_size",
        "the mmarea size given", true, want);
  }
}

// In the listing, the failed checks, one a line; in JSON, every check.
void list_checks(const Checks& c, const char* path, const Options& o) {
  bool first = true;
  for (uint32_t i = 0; i < c.count; ++i) {
    const Check& k = c.list[i];
    if (o.json) {
      out(first ? "{\"field\":" : ",{\"field\":");
      out_json_string(k.field);
      out(",\"expected\":");
      out_json_string(k.expected);
      if (k.has_value) {
        out(",\"value\":");
        out_decimal(0, k.value);
      }
      out(k.passed ? ",\"passed\":true}" : ",\"passed\":false}");
      first = false;
      continue;
    }
    if (k.passed) continue;
    if (o.several) {
      out(path);
      out(": ");
    }
    out("check failed: ");
    out(k.field);
    out(": expected ");
    if (k.has_value) {
      out_number(0, k.value);
      out(", ");
    }
    out(k.expected);
    end_line();
  }
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

bool is_folder(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Why a file cannot be opened, from the platform's error code. Windows
// refuses to open a folder as a file with "access denied", so a refused
// path is looked at once more, as a folder may be.
const char* open_failure(const char* path) {
  const DWORD code = GetLastError();
  if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
    return "no such file";
  }
  if (code != ERROR_ACCESS_DENIED) return "cannot open the file";
  const HANDLE look = CreateFileA(
      path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (look == INVALID_HANDLE_VALUE) return "permission denied";
  const bool folder = is_folder(look);
  CloseHandle(look);
  return folder ? "is a folder" : "permission denied";
}

// What reading a file gave: its first bytes and its length, or why it
// could not be read.
struct Read {
  const char* failure;  // null when it was read
  unsigned char header[HEADER_SIZE];
  uint32_t n;  // bytes of header read
  Length length;
};

void read_file(const char* path, Read* r) {
  r->failure = nullptr;
  const bool is_std_in = path[0] == '-' && path[1] == 0;
  Stream* stream = &std_in;
  if (is_std_in) {
    std_in.flags |= STREAM_BINARY;
  } else {
    stream = stream_open(path, "rb");
    if (stream == nullptr) {
      r->failure = open_failure(path);
      return;
    }
    // POSIX opens a folder for reading; only the reads fail.
    if (is_folder(stream->handle)) {
      stream_close(stream);
      r->failure = "is a folder";
      return;
    }
  }
  r->n = stream_read(r->header, 1, HEADER_SIZE, stream);
  r->length = {r->n, false, 0, 0};
  bool read = count_to_limit(stream, &r->length.counted);
  if (read && r->length.counted > MAX_IMAGE_SIZE) {
    r->length.size_known =
        stream_size(stream, &r->length.size_low, &r->length.size_high) == 0;
  }
  read = read && stream_error(stream) == 0;
  if (!is_std_in) stream_close(stream);
  if (!read) r->failure = "cannot read the file";
}

void out_length(const Length& length, bool json) {
  if (json) {
    out(",\"length\":");
    if (length.counted <= MAX_IMAGE_SIZE) {
      out_decimal(0, length.counted);
    } else if (length.size_known) {
      out_decimal(length.size_high, length.size_low);
    } else {
      out("null");
    }
    return;
  }
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

// The error line of a file that cannot be used.
void out_error(const char* path, const char* why, const Options& o) {
  if (o.json) {
    out(",\"error\":");
    out_json_string(why);
    return;
  }
  if (o.several) {
    out(path);
    out(": ");
  }
  out("error: ");
  out(why);
  end_line();
}

// Lists one file; returns 0 when it was read and passed every check.
int inspect(const char* path, const Options& o) {
  if (o.json) {
    out("{\"file\":");
    out_json_string(path);
  } else {
    out("file: ");
    out(path);
    end_line();
  }
  Read r;
  read_file(path, &r);
  const unsigned char* h = r.header;
  const bool tamrisk =
      r.failure == nullptr && r.n >= V_SIGNATURE + 4 && has_signature(h);
  const bool bim = r.failure == nullptr && !tamrisk && r.n >= BIM_CHECK_B + 4 &&
                   is_bim_header(h);
  const char* format = tamrisk ? "Tamrisk application file"
                       : bim   ? "bim image"
                               : "unknown";
  Checks checks = {};
  if (r.failure == nullptr) {
    if (o.json) {
      out(",\"format\":");
      out_json_string(format);
    } else {
      out("format: ");
      out(format);
      end_line();
    }
    out_length(r.length, o.json);
    if (r.n < HEADER_SIZE && (tamrisk || bim)) {
      add(&checks, false, "length", "at least the 36 bytes of the header");
    } else if (tamrisk) {
      tamrisk_checks(&checks, h, r.length, o);
    } else if (bim) {
      common_checks(&checks, get_u32le(h + BIM_ENTRY), r.length);
    }
    if (o.json) out(",\"fields\":{");
    if (r.n >= HEADER_SIZE && tamrisk) list_fields(TAMRISK_FIELDS, h, o);
    if (r.n >= HEADER_SIZE && bim) list_fields(BIM_FIELDS, h, o);
    if (o.json) out("},\"checks\":[");
    list_checks(checks, path, o);
    if (o.json) out("]");
    if (!tamrisk && !bim) {
      r.failure = "neither a Tamrisk application file nor a bim image";
    }
  }
  const bool passed = r.failure == nullptr && checks.failed == 0;
  if (r.failure != nullptr) {
    out_error(path, r.failure, o);
  } else if (o.json) {
    out(",\"result\":");
    out_json_string(passed ? "ok" : "failed");
  } else {
    out("result: ");
    out(passed ? "ok" : "failed");
    end_line();
  }
  if (r.failure != nullptr && o.json) out(",\"result\":\"failed\"");
  if (o.json) {
    out("}");
    end_line();
  }
  return passed ? 0 : 1;
}

bool same_text(const char* a, const char* b) {
  while (*a != 0 && *a == *b) {
    ++a;
    ++b;
  }
  return *a == *b;
}

// The value of a sized option at argv[*i], as "--name SIZE" or
// "--name=SIZE"; null, with *i unchanged, when argv[*i] is not that option.
// *missing is set for the option with nothing after it.
const char* option_value(const char* name, int argc, char** argv, int* i,
                         bool* missing) {
  const char* arg = argv[*i];
  while (*name != 0 && *name == *arg) {
    ++name;
    ++arg;
  }
  if (*name != 0) return nullptr;
  if (*arg == '=') return arg + 1;
  if (*arg != 0) return nullptr;
  if (*i + 1 >= argc) {
    *missing = true;
    return nullptr;
  }
  return argv[++*i];
}

// A usage error: the message on standard error, then the usage line.
int usage_error(const char* message, const char* arg) {
  stream_puts("krelt-info: ", &std_err);
  stream_puts(message, &std_err);
  if (arg != nullptr) {
    stream_puts(" '", &std_err);
    stream_puts(arg, &std_err);
    stream_puts("'", &std_err);
  }
  stream_puts("\n", &std_err);
  stream_puts(USAGE, &std_err);
  stream_puts("\nTry 'krelt-info --help' for more.\n", &std_err);
  return 2;
}

}  // namespace

// Its arguments as the platform gives them: any file name passes.
ArgumentRules app::argument_rules() { return {false, 0}; }

int app::main(int argc, char** argv) {
  // Read by people and scripts (grep 'ok$'), so its lines end as the
  // platform's do; krelt's own messages keep CR LF everywhere.
  std_out.flags |= STREAM_PLATFORM_LINES;
  std_err.flags |= STREAM_PLATFORM_LINES;
  Options o = {nullptr, nullptr, false, false};
  // The file names are gathered at the front of argv, after argv[0].
  int files = 0;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (options_end || arg[0] != '-' || arg[1] == 0) {
      argv[1 + files++] = argv[i];
      continue;
    }
    bool missing = false;
    const char* value;
    if (same_text(arg, "--")) {
      options_end = true;
    } else if (same_text(arg, "--help")) {
      put_line(USAGE);
      out(HELP);
      return 0;
    } else if (same_text(arg, "--version")) {
      out("krelt-info ");
      put_line(VERSION_TEXT + VERSION_NUMBER_AT);
      return 0;
    } else if (same_text(arg, "--json")) {
      o.json = true;
    } else if ((value = option_value("--heap", argc, argv, &i, &missing)) !=
               nullptr) {
      o.heap = value;
    } else if ((value = option_value("--mmarea", argc, argv, &i, &missing)) !=
               nullptr) {
      o.mmarea = value;
    } else if (missing) {
      return usage_error("a size must follow", arg);
    } else {
      return usage_error("unknown option", arg);
    }
  }
  if (files == 0) return usage_error("no file named", nullptr);
  o.several = files > 1;
  int status = 0;
  for (int i = 1; i <= files; ++i) {
    if (i > 1 && !o.json) end_line();
    if (inspect(argv[i], o) != 0) status = 1;
  }
  return status;
}
