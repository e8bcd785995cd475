// What krelt-info finds in one file, as one record: inspection fills it,
// and a printer (text or JSON) prints it, looking at nothing else.
#pragma once

#include <stdint.h>

// How a value is known.
enum ValueKind {
  VALUE_NONE,        // nothing to show
  VALUE_NUMBER,      // high:low
  VALUE_TEXT,        // text: four characters, or four bytes in hex
  VALUE_PAST_LIMIT,  // a length past the image limit, not told exactly
  VALUE_DIFFERS_AT,  // the first offset where two files differ
};

struct Value {
  ValueKind kind;
  uint32_t high;
  uint32_t low;
  char text[12];  // "00 00 00 E9" and its terminator
};

struct ReportField {
  const char* name;
  Value value;
};

// One check of a file: the field it is about, what the file holds there,
// what it should hold (a value, where one value is right), that rule in
// words, and whether it passed.
struct Check {
  const char* field;
  Value value;
  Value expected;
  const char* rule;
  bool passed;
};

enum Format {
  FORMAT_UNREAD,  // the file could not be read: only the error
  FORMAT_TAMRISK,
  FORMAT_BIM,
  FORMAT_UNKNOWN,
};

constexpr uint32_t MOST_FIELDS = 12;
constexpr uint32_t MOST_CHECKS = 20;
constexpr uint32_t ERROR_ROOM = 96;

struct Report {
  const char* path;
  Format format;
  Value length;
  ReportField fields[MOST_FIELDS];
  uint32_t field_count;
  Check checks[MOST_CHECKS];
  uint32_t check_count;
  uint32_t failed;
  // Compared with an image: the heap sizes that give the file's memory
  // size, from heap_low up to heap_high (through 0xFFFFFFFF to 0 where
  // heap_high is the lower), and the krelt command that remakes the file
  // byte for byte (null: none does).
  bool image_compared;
  bool heap_sizes_exist;
  uint32_t heap_low;
  uint32_t heap_high;
  char* command;           // from the heap
  char error[ERROR_ROOM];  // empty when the file could be used
};

// The bim image a Tamrisk file is compared with, read whole as krelt
// reads it.
struct Image {
  const char* path;
  const unsigned char* bytes;
  uint32_t length;
};

// What the options ask of every file.
struct Options {
  bool has_heap;
  bool has_mmarea;
  bool has_max_memory;
  uint32_t heap;
  uint32_t mmarea;
  uint32_t max_memory;
  const Image* image;  // null when not given
  bool quiet;          // only what failed, and the summary
  bool several;        // more than one file: each message names its file
};

const char* format_name(Format format);

inline bool report_passed(const Report& report) {
  return report.error[0] == 0 && report.failed == 0;
}

// Fills *report for the file at path ("-": standard input).
void inspect(const char* path, const Options& options, Report* report);

// Gives back what inspect took from the heap.
void report_free(Report* report);

// Reads the image as krelt reads it: null and *why on failure (why has
// room for ERROR_ROOM bytes).
const Image* read_image(const char* path, char* why);

// With an image: the heap sizes that give the memory size in the Tamrisk
// header, and, where the file is the image as krelt converts it (`same`:
// every byte but the sizes matches), the command that remakes it.
void add_remake(const Options& options, const unsigned char* header, bool same,
                Report* report);

// A printer: each report as it comes (`first`: the first file's), then,
// with more than one file, how many passed.
struct Printer {
  void (*report)(const Report& report, const Options& options, bool first);
  void (*summary)(uint32_t files, uint32_t failed, const Options& options);
};

// The listing, one field a line.
extern const Printer TEXT_PRINTER;
// One JSON object a line for each file, and no summary.
extern const Printer JSON_PRINTER;
