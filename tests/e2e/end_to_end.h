// The end-to-end fixture: a scratch directory, the program under test,
// and what its tests check again and again.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

namespace e2e {

class EndToEnd : public ScratchTest {
 protected:
  // A failed run: its one message, exit 1, nothing on standard error.
  void expect_failure(const Result& r, const std::string& message) {
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_EQ(r.out, message);
    EXPECT_EQ(r.err, "");
  }

  // The image converted with `krelt app.bim OUT heap`.
  Bytes converted(const Bytes& in, uint32_t heap) {
    write("ref.bim", in);
    EXPECT_EQ(run({"ref.bim", "ref.v", std::to_string(heap)}).code, 0);
    Bytes out = read("ref.v");
    fs::remove(dir / "ref.bim");
    fs::remove(dir / "ref.v");
    return out;
  }

  // Runs `krelt ARGS...` in count processes at once; their exit codes.
  std::vector<int> run_together(const std::vector<Args>& runs,
                                const RunOptions& options = {}) {
    std::vector<pid_t> pids;
    for (const Args& args : runs) {
      pids.push_back(start_program(env("KRELT_PROGRAM"), dir, args, options));
    }
    std::vector<int> codes;
    for (pid_t pid : pids) codes.push_back(wait_program(pid));
    return codes;
  }

  const Bytes previous = {'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'};
};

}  // namespace e2e
