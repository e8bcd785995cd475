// Process start-up: the program's one entry and its argument vector.
#pragma once

namespace app {
// Supplied by the program linked with the runtime; its result becomes the
// exit code.
int main(int argc, char** argv);
}  // namespace app

// The process entry: binds the standard streams, splits the command line,
// runs app::main once and exits with its result. Never returns.
extern "C" [[noreturn]] void start(void);

// Splits the platform's raw command line. Returns the vector (entry *argc_out
// is null) or null, with *argc_out 0, when memory cannot be had. Both blocks
// live until the process ends.
char** split_command_line(int* argc_out);
