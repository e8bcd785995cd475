// Process start-up: the program's one entry and its argument vector.
#pragma once

// How a program takes its arguments where the platform passes them as a
// vector (POSIX). Windows passes one command line, which the runtime
// splits for every program.
struct ArgumentRules {
  // Through the Windows command line: joined into one line and split as on
  // Windows, so that the program gets what it gets there. Else as given.
  bool windows_line;
  // With windows_line, how many arguments after the program's path it
  // reads. A '"', which that line cannot carry, refuses the run in one of
  // these; in the program's path or a later argument, which the program
  // never reads, it is dropped.
  int read;
};

namespace app {
// Supplied by the program linked with the runtime; its result becomes the
// exit code.
int main(int argc, char** argv);

// Supplied by the program too; asked where the platform passes a vector.
ArgumentRules argument_rules();
}  // namespace app

// The process entry: binds the standard streams, splits the command line,
// runs app::main once and exits with its result. Never returns.
extern "C" [[noreturn]] void start(void);

// The same, for arguments as the platform passed them.
extern "C" [[noreturn]] void start_with_arguments(int argc, char** argv);

// Splits the platform's raw command line. Returns the vector (entry *argc_out
// is null) or null, with *argc_out 0, when memory cannot be had. Both blocks
// live until the process ends.
char** split_command_line(int* argc_out);
