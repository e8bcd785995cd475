// split_command_line on any line: a well-formed vector equal to the model's,
// and arguments joined as the POSIX entry joins them split back the same.
#include <cstdlib>
#include <string>
#include <vector>

#include "models.h"
#include "platform/memory/memory_platform.h"
#include "platform/posix/command_line.h"
#include "runtime/start.h"

namespace {

std::vector<std::string> split(const std::string& line) {
  memory_platform::reset();
  memory_platform::state().command_line = line;
  int argc = -1;
  char** argv = split_command_line(&argc);
  if (argv == nullptr || argc < 1 || argv[argc] != nullptr) std::abort();
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  line = line.substr(0, line.find('\0'));
  const std::vector<std::string> args = split(line);
  if (args != model::split(line)) std::abort();

  // Split results hold no quote, so every one of them can pass.
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  char* joined = nullptr;
  const int argc = static_cast<int>(argv.size());
  if (join_arguments(argc, argv.data(), argc, &joined) != JOIN_OK) {
    std::abort();
  }
  const std::string again(joined);
  HeapFree(GetProcessHeap(), 0, joined);
  if (split(again) != args) std::abort();
  memory_platform::reset();
  return 0;
}
