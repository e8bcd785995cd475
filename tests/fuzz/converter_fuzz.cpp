// The whole run on any image and size texts: either the output is exactly
// the model's conversion, or the run fails with its message and leaves the
// previous output alone.
#include <cstdlib>
#include <string>
#include <vector>

#include "models.h"
#include "platform/memory/memory_platform.h"
#include "tests/common/samples.h"

namespace mp = memory_platform;

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

// Takes a size text (no quote, no NUL) of the length the next byte says.
std::string take_text(const uint8_t*& p, size_t& n) {
  if (n == 0) return "";
  size_t length = *p++ % 12;
  --n;
  std::string text;
  for (; length > 0 && n > 0; --length, --n, ++p) {
    if (*p != '"' && *p != 0) text += static_cast<char>(*p);
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* p = data;
  size_t n = size;
  const uint8_t options = n > 0 ? (--n, *p++) : 0;
  const std::string heap = take_text(p, n);
  const std::string mmarea = take_text(p, n);
  const std::vector<unsigned char> image(p, p + n);
  const std::vector<unsigned char> previous = {'o', 'l', 'd'};

  mp::reset();
  mp::state().poison_blocks = false;
  mp::state().keep_log = false;
  mp::state().files["in.bim"] = image;
  mp::state().files["out.v"] = previous;
  mp::state().read_chunk = options % 64;
  std::string line = "krelt in.bim out.v \"" + heap + "\"";
  if (options & 0x40) line += " \"" + mmarea + "\"";
  const int code = mp::run(line);
  const std::string out = mp::state().stdout_bytes;
  check(mp::state().open_handles == 0);

  const bool well_formed = image.size() >= 36 &&
                           samples::get_word(image, 4) == 36 &&
                           samples::get_word(image, 8) == 36;
  if (!well_formed) {
    check(code == 1);
    check(out == samples::FORMAT_ERROR);
    check(mp::state().files.at("out.v") == previous);
    mp::reset();
    return 0;
  }
  check(code == 0);
  check(out.empty());
  const uint32_t mmarea_size =
      options & 0x40 ? static_cast<uint32_t>(model::parse_size(mmarea)) : 0;
  check(mp::state().files.at("out.v") ==
        model::convert(image, static_cast<uint32_t>(model::parse_size(heap)),
                       mmarea_size));
  mp::reset();  // the process ends: its blocks go back
  return 0;
}
