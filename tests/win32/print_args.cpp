// Prints the argument vector that the runtime makes of the real command
// line: the count, then each argument in brackets, one a line.
#include "runtime/format.h"
#include "runtime/start.h"
#include "runtime/stream.h"

int app::main(int argc, char** argv) {
  char count[NUMBER_ROOM];
  put_decimal(count, static_cast<uint32_t>(argc));
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
