// krelt against cp: paired wall times, krelt's peak RSS, and the system
// calls krelt makes on the image files. Prints one Markdown table.
//
//   krelt_bench KRELT MAKE_SAMPLE WORKDIR [RUNS]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

namespace {

struct Sample {
  double seconds;
  long max_rss_kib;
  int code;
};

Sample run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const std::string& word : command) {
    argv.push_back(const_cast<char*>(word.c_str()));
  }
  argv.push_back(nullptr);
  const auto begin = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(end - begin).count(), usage.ru_maxrss,
          WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Counts read and write calls on the input and output files, following
// which descriptor names which file through strace's log.
std::pair<int, int> count_io(const std::string& krelt, const std::string& in,
                             const std::string& out, const std::string& log) {
  const std::string command =
      "strace -f -qq -e trace=openat,open,read,write,close -o " + log + " " +
      krelt + " " + in + " " + out + " 64k > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return {-1, -1};
  std::ifstream f(log);
  std::map<int, std::string> fds;
  int reads = 0, writes = 0;
  const std::regex open_re(R"re(open(at)?\(.*"([^"]*)".*\) = (\d+))re");
  const std::regex io_re(R"re((read|write)\((\d+),)re");
  const std::regex close_re(R"re(close\((\d+)\))re");
  std::smatch m;
  for (std::string line; std::getline(f, line);) {
    if (std::regex_search(line, m, open_re)) {
      fds[std::stoi(m[3])] = m[2];
    } else if (std::regex_search(line, m, io_re)) {
      const std::string& file = fds[std::stoi(m[2])];
      if (m[1] == "read" && file == in) ++reads;
      if (m[1] == "write" && file == out) ++writes;
    } else if (std::regex_search(line, m, close_re)) {
      fds.erase(std::stoi(m[1]));
    }
  }
  return {reads, writes};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr,
                 "usage: krelt_bench KRELT MAKE_SAMPLE WORKDIR [RUNS]\n");
    return 2;
  }
  const std::string krelt = argv[1], make_sample = argv[2], dir = argv[3];
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 31;
  const bool have_strace = std::system("command -v strace > /dev/null") == 0;

  std::printf(
      "| image | krelt median | cp median | krelt/cp (median of pairs) "
      "| krelt peak RSS | read calls on input | write calls on output |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  const std::vector<std::pair<const char*, long>> sizes = {
      {"4 KiB", 4096},
      {"64 KiB", 65536},
      {"1 MiB", 1 << 20},
      {"4 MiB - 1", (1 << 22) - 1}};
  bool all_converted = true;
  for (const auto& [label, size] : sizes) {
    const std::string in = dir + "/in.bim", out = dir + "/out.v",
                      copy = dir + "/copy.v";
    if (run({make_sample, in, std::to_string(size)}).code != 0) return 1;
    std::vector<double> krelt_times, cp_times, ratios;
    long rss = 0;
    for (int i = -3; i < runs; ++i) {  // three rounds of warm-up
      // Alternate which goes first, so neither always meets a warmer cache.
      Sample k, c;
      if (i % 2 == 0) {
        k = run({krelt, in, out, "64k"});
        c = run({"cp", in, copy});
      } else {
        c = run({"cp", in, copy});
        k = run({krelt, in, out, "64k"});
      }
      if (k.code != 0) all_converted = false;
      if (i < 0) continue;
      krelt_times.push_back(k.seconds);
      cp_times.push_back(c.seconds);
      ratios.push_back(k.seconds / c.seconds);
      rss = std::max(rss, k.max_rss_kib);
    }
    std::string reads = "n/a", writes = "n/a";
    if (have_strace) {
      const auto [r, w] = count_io(krelt, in, out, dir + "/strace.log");
      reads = std::to_string(r);
      writes = std::to_string(w);
    }
    std::printf("| %s | %.3f ms | %.3f ms | %.3f | %ld KiB | %s | %s |\n",
                label, median(krelt_times) * 1e3, median(cp_times) * 1e3,
                median(ratios), rss, reads.c_str(), writes.c_str());
  }
  const Sample baseline = run({krelt});
  std::printf(
      "\nBaseline peak RSS (too few arguments): %ld KiB; "
      "work buffer 4096 KiB. Pairs per size: %d.%s\n",
      baseline.max_rss_kib, runs,
      have_strace ? "" : " (install strace for the call counts)");
  return all_converted ? 0 : 1;
}
