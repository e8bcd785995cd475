// Text- and binary-mode stream_read and stream_write over the in-memory
// platform, with any contents, item sizes, counts and short deliveries,
// against a model of what each call must deliver and leave behind.
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/memory/memory_platform.h"
#include "runtime/stream.h"

namespace mp = memory_platform;

namespace {

struct Input {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (n == 0) return 0;
    --n;
    return *p++;
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

void fuzz_read(Input& in, bool binary) {
  const uint32_t chunk = in.byte() % 8;  // 0: whole requests
  std::string contents(reinterpret_cast<const char*>(in.p), in.n);
  mp::reset();
  mp::state().keep_log = false;
  mp::state().files["f"] = mp::bytes_of(contents);
  mp::state().read_chunk = chunk;
  std::string clean;
  for (char c : contents) {
    if (binary || c != '\r') clean += c;
  }

  Stream* s = stream_open("f", binary ? "rb" : "r");
  check(s != nullptr);
  size_t at = 0;  // how much of the clean text has been consumed
  bool at_end = false;
  for (int op = 0; op < 64; ++op) {
    const uint32_t size = 1 + op % 5;
    const uint32_t count =
        static_cast<uint32_t>((op * 7 + contents.size()) % 9);
    std::vector<char> buf(size * count + 1, '\x7f');
    const uint64_t calls = mp::count(mp::CALL_READ_FILE);
    const uint32_t items = stream_read(buf.data(), size, count, s);
    if (count == 0 || at_end) {
      check(items == 0);
      check(mp::count(mp::CALL_READ_FILE) == calls);
      continue;
    }
    const size_t want = size_t(size) * count;
    const size_t got = std::min(want, clean.size() - at);
    check(items == got / size);
    check(std::string(buf.data(), got) == clean.substr(at, got));
    check(buf[want] == '\x7f');  // nothing beyond the request
    at += got;
    at_end = items != count;
    check(((s->flags & STREAM_AT_END) != 0) == at_end);
    check(!stream_error(s));
  }
  check(stream_close(s) == 0);
}

void fuzz_write(Input& in, bool binary) {
  const uint32_t size = 1 + in.byte() % 4;
  const uint8_t fault_at = in.byte() % 16;  // 0: no fault
  const uint8_t accept = in.byte();
  std::string text(reinterpret_cast<const char*>(in.p), in.n);
  mp::reset();
  mp::state().keep_log = false;
  if (fault_at != 0) {
    mp::state().faults = {mp::nth(
        mp::CALL_WRITE_FILE, fault_at,
        accept & 1 ? mp::FaultKind::fail : mp::FaultKind::short_, accept >> 1)};
  }
  Stream* s = stream_open("f", binary ? "wb" : "w");
  check(s != nullptr);
  const uint32_t count = static_cast<uint32_t>(text.size() / size);
  const uint32_t items = stream_write(text.data(), size, count, s);
  std::string expected;
  for (size_t i = 0; i < size_t(size) * count; ++i) {
    if (!binary && text[i] == '\n') expected += '\r';
    expected += text[i];
  }
  const auto& file = mp::state().files["f"];
  const std::string written(file.begin(), file.end());
  if (items == count && written == expected) {
    return (void)stream_close(s);  // the fault, if any, shortened nothing
  }
  // A failed write: what reached the file is a prefix of the translation,
  // and the items reported were all written in full.
  check(mp::state().fault_hit);
  check(items < count);
  check(expected.compare(0, written.size(), written) == 0);
  size_t produced = 0;
  for (size_t i = 0; i < size_t(items) * size; ++i) {
    produced += (!binary && text[i] == '\n') ? 2 : 1;
  }
  check(produced <= written.size());
  check(stream_error(s));
  stream_close(s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const uint8_t selector = in.byte();
  const bool binary = selector & 1;
  if (selector & 2) {
    fuzz_write(in, binary);
  } else {
    fuzz_read(in, binary);
  }
  mp::reset();
  return 0;
}
