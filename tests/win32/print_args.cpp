// Prints the argument vector that the runtime makes of the real command
// line: the count, then each argument in brackets, one a line.
#include "runtime/start.h"
#include "runtime/stream.h"

int app::main(int argc, char** argv) {
  char count[12];
  int at = 11;
  count[at] = 0;
  unsigned v = static_cast<unsigned>(argc);
  do {
    count[--at] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  put_line(count + at);
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
