// spawn PROGRAM LINE-FILE: starts PROGRAM with the exact bytes of LINE-FILE
// as its raw command line, passes its standard handles on and returns its
// exit code. The only way to hand a Windows program a command line that
// argv quoting cannot express, such as an unclosed quote.
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: spawn PROGRAM LINE-FILE\n");
    return 120;
  }
  std::FILE* f = std::fopen(argv[2], "rb");
  if (f == nullptr) return 121;
  std::string line;
  for (int c; (c = std::fgetc(f)) != EOF;) line.push_back(static_cast<char>(c));
  std::fclose(f);

  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (!CreateProcessA(argv[1], &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &si, &pi)) {
    return 122;
  }
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 123;
  GetExitCodeProcess(pi.hProcess, &code);
  return static_cast<int>(code);
}
