// The harness of the end-to-end suites: runs the program under test, as
// the environment names it, in a scratch directory.
//
//   KRELT_PROGRAM  the program under test (required)
//   KRELT_RUNNER   a command to start it with, e.g. "wine" (optional)
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/common/samples.h"

namespace e2e {

using namespace samples;
namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string env(const char* name);

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

struct RunOptions {
  // > 0: writes past this size fail, as on a full disk.
  rlim_t file_size_limit = 0;
  // Leave SIGXFSZ at its default action (which kills) instead of ignoring it.
  bool default_sigxfsz = false;
  // Standard output is a pipe nobody reads any more.
  bool closed_stdout = false;
  // > 0: limits of the address space and the stack, in bytes, and of the
  // open files.
  rlim_t address_space_limit = 0;
  rlim_t stack_limit = 0;
  rlim_t open_files_limit = 0;
  // > 0: a signal the program starts with ignored, as under nohup.
  int ignored_signal = 0;
  // How many copies of its signal interrupted_run sends, one right after
  // the other (timeout signals the child and then its process group).
  int signal_copies = 1;
  // Words put before the runner, e.g. setpriv to run as another user.
  std::vector<std::string> prefix = {};
};

// Runs program (through KRELT_RUNNER) with args in dir.
Result run_program(const std::string& program, const fs::path& dir,
                   const Args& args, const RunOptions& options = {});

// What wait_program gives for a run still going after its limit, which it
// then kills.
constexpr int HUNG = -1;

// Starts program (through KRELT_RUNNER) in dir with its output discarded;
// wait_program gives its exit code, 128 + the signal that ended it, or
// HUNG when limit_ms > 0 passed first.
pid_t start_program(const std::string& program, const fs::path& dir,
                    const Args& args, const RunOptions& options = {});
int wait_program(pid_t pid, long limit_ms = 0);

// How long a clean run of program takes here, in microseconds (qemu,
// valgrind and Wine are slow to start).
long clean_run_us(const std::string& program, const fs::path& dir,
                  const Args& args);

// Starts program, sends it sig after delay_us and waits (wait_program).
int interrupted_run(const std::string& program, const fs::path& dir,
                    const Args& args, int sig, long delay_us,
                    const RunOptions& options = {}, long limit_ms = 0);

// Whether the program under test is a Windows build.
bool is_windows_program();

// The names in a directory.
std::set<std::string> names_in(const fs::path& dir);

// The lines of a program's output, each ended by `end`.
std::vector<std::string> lines_of(const std::string& text,
                                  const std::string& end = "\r\n");

// How krelt-info ends its lines: as the platform of the program under test.
std::string info_line_end();

// A scratch directory per test, removed afterwards.
class ScratchTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  void write(const std::string& name, const Bytes& bytes);
  void write_text(const std::string& name, const std::string& text);
  Bytes read(const std::string& name);
  bool exists(const std::string& name);
  // Runs KRELT_PROGRAM.
  Result run(const Args& args, const RunOptions& options = {});

  fs::path dir;
};

}  // namespace e2e
