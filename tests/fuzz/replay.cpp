// Runs a fuzz target once on every file in the folders it is given (a
// missing folder is empty): the seeds and the inputs that once made it
// fail. A target aborts on a wrong result, so a clean exit is a pass.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    if (!fs::is_directory(argv[i])) continue;
    for (const auto& entry : fs::directory_iterator(argv[i])) {
      if (!entry.is_regular_file() || entry.path().filename() == "README") {
        continue;
      }
      std::ifstream f(entry.path(), std::ios::binary);
      const std::vector<uint8_t> input(std::istreambuf_iterator<char>(f), {});
      std::printf("%s\n", entry.path().c_str());
      LLVMFuzzerTestOneInput(input.data(), input.size());
      ++replayed;
    }
  }
  std::printf("replayed %d inputs\n", replayed);
  return replayed > 0 ? 0 : 1;  // a replay of nothing proves nothing
}
