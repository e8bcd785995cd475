// The listing: one field a line, for people and for grep.
#include "converter/header.h"
#include "info/output.h"
#include "info/report.h"

namespace {

void out_value(const Value& v) {
  switch (v.kind) {
    case VALUE_NUMBER:
      out_number(v.high, v.low);
      break;
    case VALUE_TEXT:
      out(v.text);
      break;
    case VALUE_PAST_LIMIT:
      out("more than ");
      out_number(0, MAX_IMAGE_SIZE);
      break;
    case VALUE_DIFFERS_AT:
      out("first differs at ");
      out_number(v.high, v.low);
      break;
    case VALUE_NONE:
      out("none");
      break;
  }
}

void out_line(const char* name, const Value& v) {
  out(name);
  out(": ");
  out_value(v);
  end_line();
}

// With several files, each failed check and error names its file.
void out_file_name(const Report& r, const Options& o) {
  if (!o.several) return;
  out(r.path);
  out(": ");
}

void out_heap_sizes(const Report& r) {
  out("heap_sizes: ");
  if (!r.heap_sizes_exist) {
    out("none");
  } else if (r.heap_low <= r.heap_high) {
    out_number(0, r.heap_low);
    out(" to ");
    out_number(0, r.heap_high);
  } else {
    out_number(0, 0);
    out(" to ");
    out_number(0, r.heap_high);
    out(", ");
    out_number(0, r.heap_low);
    out(" to ");
    out_number(0, 0xFFFFFFFF);
  }
  end_line();
}

void out_listing(const Report& r) {
  out("format: ");
  out(format_name(r.format));
  end_line();
  out_line("length", r.length);
  for (uint32_t i = 0; i < r.field_count; ++i) {
    out_line(r.fields[i].name, r.fields[i].value);
  }
  if (r.image_compared) out_heap_sizes(r);
  if (r.command != nullptr) {
    out("command: ");
    out(r.command);
    end_line();
  }
}

// check failed: FIELD: VALUE, expected EXPECTED: RULE (or: expected RULE).
void out_failed(const Report& r, const Check& c, const Options& o) {
  out_file_name(r, o);
  out("check failed: ");
  out(c.field);
  out(": ");
  out_value(c.value);
  out(", expected ");
  if (c.expected.kind != VALUE_NONE) {
    out_value(c.expected);
    out(": ");
  }
  out(c.rule);
  end_line();
}

void print_report(const Report& r, const Options& o, bool first) {
  if (!o.quiet) {
    if (!first) end_line();
    out("file: ");
    out(r.path);
    end_line();
    if (r.format != FORMAT_UNREAD) out_listing(r);
  }
  for (uint32_t i = 0; i < r.check_count; ++i) {
    if (!r.checks[i].passed) out_failed(r, r.checks[i], o);
  }
  if (r.error[0] != 0) {
    out_file_name(r, o);
    out("error: ");
    out(r.error);
    end_line();
  } else if (!o.quiet) {
    out(report_passed(r) ? "result: ok" : "result: failed");
    end_line();
  }
}

// Files are separated by an empty line, and so is the count.
void print_summary(uint32_t files, uint32_t failed, const Options& o) {
  if (!o.quiet) end_line();
  out_decimal(0, files);
  out(" files: ");
  out_decimal(0, files - failed);
  out(" ok, ");
  out_decimal(0, failed);
  out(" failed");
  end_line();
}

}  // namespace

const Printer TEXT_PRINTER = {print_report, print_summary};
