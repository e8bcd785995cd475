// hold FILE MARKER MS: keeps FILE open for reading, sharing neither writing
// nor deletion, for MS milliseconds. MARKER is created once it is open, so
// a test knows when Windows starts refusing to replace FILE.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) return 120;
  const HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 121;
  const HANDLE marker = CreateFileA(argv[2], GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
  if (marker == INVALID_HANDLE_VALUE) return 122;
  CloseHandle(marker);
  Sleep(static_cast<DWORD>(std::atol(argv[3])));
  CloseHandle(file);
  return 0;
}
