// The whole run with any output path, short or far past every limit:
// either the file the path leads to gets exactly the converted image, or
// the run fails with the write error; no other file, link or device is
// touched, and nothing is left beside them.
#include <cstdlib>
#include <map>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte repeats the rest, so that short inputs make long paths.
  std::string piece;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] != 0 && data[i] != '"') piece += static_cast<char>(data[i]);
  }
  std::string path;
  for (int i = 0; i <= data[0] && path.size() < 70000; ++i) path += piece;
  if (path.empty()) return 0;

  const samples::Bytes image = samples::worked_example();
  const samples::Bytes previous = {'o', 'l', 'd'};
  mp::reset();
  mp::state().poison_blocks = false;
  mp::state().keep_log = false;
  mp::state().files = {{"in.bim", image}, {"out.v", previous},
                       {"d/t.v", previous}};
  mp::state().links = {{"l.v", "d/t.v"}, {"dangling.v", "d/new.v"}};
  mp::state().devices = {{"NUL", ""}};
  const mp::State before = mp::state();
  const int code = mp::run("krelt in.bim \"" + path + "\" 64k 1m");
  const mp::State& after = mp::state();
  check(after.open_handles == 0);
  check(after.links == before.links);
  check(after.devices.size() == before.devices.size());

  std::string target = path;
  for (int depth = 0; depth < 8 && before.links.count(target); ++depth) {
    target = before.links.at(target);
  }
  std::map<std::string, samples::Bytes> expected = before.files;
  if (code == 0) {
    check(after.stdout_bytes.empty());
    const samples::Bytes want = model::convert(image, 65536, 1 << 20);
    if (before.devices.count(target)) {
      check(after.devices.at(target) == std::string(want.begin(), want.end()));
    } else {
      expected[target] = want;
    }
  } else {
    check(code == 1);
    check(after.stdout_bytes == samples::WRITE_ERROR);
  }
  check(after.files == expected);
  mp::reset();
  return 0;
}
