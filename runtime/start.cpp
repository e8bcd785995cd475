#include "runtime/start.h"

#include "runtime/stream.h"

namespace {

// Space, tab and every other control byte separate arguments.
bool is_separator(unsigned char byte) { return byte >= 0x01 && byte <= 0x20; }

const unsigned char* skip_separators(const unsigned char* p) {
  while (is_separator(*p)) ++p;
  return p;
}

}  // namespace

char** split_command_line(int* argc_out) {
  *argc_out = 0;
  const unsigned char* p =
      reinterpret_cast<const unsigned char*>(GetCommandLineA());
  // Quotes are dropped and every terminator but the last replaces at least
  // one separator, so the text never outgrows the line.
  char* text = static_cast<char*>(
      heap_alloc(text_length(reinterpret_cast<const char*>(p)) + 1));
  if (text == nullptr) return nullptr;

  char* out = text;
  int argc = 0;
  p = skip_separators(p);
  for (;;) {
    bool quoting = false;
    while (*p != 0) {
      if (*p == '"') {
        quoting = !quoting;
      } else {
        *out++ = static_cast<char>(*p);
      }
      ++p;
      if (*p <= 0x20 && !quoting) break;
    }
    *out++ = 0;
    ++argc;
    p = skip_separators(p);
    if (*p == 0) break;
  }

  char** argv = static_cast<char**>(
      heap_alloc(static_cast<uint32_t>(argc + 1) * sizeof(char*)));
  if (argv == nullptr) return nullptr;
  char* arg = text;
  for (int i = 0; i < argc; ++i) {
    argv[i] = arg;
    arg += text_length(arg) + 1;
  }
  argv[argc] = nullptr;
  *argc_out = argc;
  return argv;
}

namespace {

// The arguments as the platform passed them, where it passes a vector.
int given_argc;
char** given_argv;

}  // namespace

extern "C" void start(void) {
  std_in.handle = GetStdHandle(STD_INPUT_HANDLE);
  std_out.handle = GetStdHandle(STD_OUTPUT_HANDLE);
  std_err.handle = GetStdHandle(STD_ERROR_HANDLE);
  int argc = given_argc;
  char** argv = given_argv != nullptr ? given_argv : split_command_line(&argc);
  // Without memory for the arguments the program runs with none, so it
  // says how it is used and fails, as a program given none does.
  char* none[] = {nullptr};
  const int code = app::main(argc, argv != nullptr ? argv : none);
  ExitProcess(static_cast<UINT>(code));
}

extern "C" void start_with_arguments(int argc, char** argv) {
  given_argc = argc;
  given_argv = argv;
  start();
}
