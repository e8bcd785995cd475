// Prints the argument vector that the runtime makes of the real command
// line: the count, then each argument in brackets, one a line.
#include "runtime/start.h"
#include "runtime/stream.h"

int app::main(int argc, char** argv) {
  char count[12];
  int n = 0;
  char digits[12];
  for (unsigned v = static_cast<unsigned>(argc); n == 0 || v != 0; v /= 10) {
    digits[n++] = static_cast<char>('0' + v % 10);
  }
  for (int i = 0; i < n; ++i) count[i] = digits[n - 1 - i];
  count[n] = 0;
  put_line(count);
  for (int i = 0; i <= argc; ++i) {
    if (argv[i] == nullptr) {
      put_line(i == argc ? "(null)" : "(early null)");
      break;
    }
    stream_puts("[", &std_out);
    stream_puts(argv[i], &std_out);
    put_line("]");
  }
  return 0;
}
