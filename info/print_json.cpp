// One JSON object a line for each file, valid whatever bytes a name holds.
// The layout only ever gains keys.
#include "info/output.h"
#include "info/report.h"
#include "runtime/format.h"
#include "runtime/stream.h"

namespace {

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
// UTF-8 becomes U+FFFD.
void out_string(const char* text) {
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

// A key and its colon, after a comma unless it opens its object.
void out_key(const char* key, bool opens = false) {
  out(opens ? "" : ",");
  out_string(key);
  out(":");
}

// Numbers as numbers, text as strings; what is not known is null.
void out_value(const Value& v) {
  switch (v.kind) {
    case VALUE_NUMBER:
    case VALUE_DIFFERS_AT:
      out_decimal(v.high, v.low);
      break;
    case VALUE_TEXT:
      out_string(v.text);
      break;
    case VALUE_PAST_LIMIT:
    case VALUE_NONE:
      out("null");
      break;
  }
}

// "value" what the file holds, "expected" what it should: a value where
// one value is right, else the rule in words, which "rule" always gives.
void out_check(const Check& c, bool opens) {
  out(opens ? "{" : ",{");
  out_key("field", true);
  out_string(c.field);
  out_key("value");
  out_value(c.value);
  out_key("expected");
  if (c.expected.kind != VALUE_NONE) {
    out_value(c.expected);
  } else {
    out_string(c.rule);
  }
  out_key("rule");
  out_string(c.rule);
  out_key("passed");
  out(c.passed ? "true}" : "false}");
}

void out_range(uint32_t low, uint32_t high, bool opens) {
  out(opens ? "[" : ",[");
  out_decimal(0, low);
  out(",");
  out_decimal(0, high);
  out("]");
}

// [[low,high]], two ranges where they pass 0xFFFFFFFF, [] for none.
void out_heap_sizes(const Report& r) {
  out_key("heap_sizes");
  out("[");
  if (r.heap_sizes_exist && r.heap_low <= r.heap_high) {
    out_range(r.heap_low, r.heap_high, true);
  } else if (r.heap_sizes_exist) {
    out_range(0, r.heap_high, true);
    out_range(r.heap_low, 0xFFFFFFFF, false);
  }
  out("]");
}

void out_listing(const Report& r) {
  out_key("format");
  out_string(format_name(r.format));
  out_key("length");
  out_value(r.length);
  out_key("fields");
  out("{");
  for (uint32_t i = 0; i < r.field_count; ++i) {
    out_key(r.fields[i].name, i == 0);
    out_value(r.fields[i].value);
  }
  out("}");
  out_key("checks");
  out("[");
  for (uint32_t i = 0; i < r.check_count; ++i) out_check(r.checks[i], i == 0);
  out("]");
  if (!r.image_compared) return;
  out_heap_sizes(r);
  out_key("command");
  if (r.command != nullptr) {
    out_string(r.command);
  } else {
    out("null");
  }
}

// With --quiet, only the files that failed.
void print_report(const Report& r, const Options& o, bool) {
  if (o.quiet && report_passed(r)) return;
  out("{");
  out_key("file", true);
  out_string(r.path);
  if (r.format != FORMAT_UNREAD) out_listing(r);
  if (r.error[0] != 0) {
    out_key("error");
    out_string(r.error);
  }
  out_key("result");
  out_string(report_passed(r) ? "ok" : "failed");
  out("}");
  end_line();
}

void print_summary(uint32_t, uint32_t, const Options&) {}

}  // namespace

const Printer JSON_PRINTER = {print_report, print_summary};
