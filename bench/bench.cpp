// krelt against cp and against the safe floor (floor.cpp: the least a safe
// replacement must do): paired wall times, krelt's peak RSS, and the system
// calls krelt makes on the image files. Prints one Markdown table. A run
// takes about a millisecond, too little to pair one against one, so each
// sample is a batch of runs, timed together.
//
//   krelt_bench KRELT FLOOR MAKE_SAMPLE WORKDIR [PAIRS [RUNS_PER_SAMPLE]]
//
// Or two builds of krelt against each other (as musl and glibc), in the
// same paired samples:
//
//   krelt_bench --versus A B MAKE_SAMPLE WORKDIR [PAIRS [RUNS_PER_SAMPLE]]
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

// count runs of command one after the other: their total time and the
// largest peak RSS.
Sample run_batch(const std::vector<std::string>& command, int count) {
  Sample total{0, 0, 0};
  for (int i = 0; i < count; ++i) {
    const Sample one = run(command);
    total.seconds += one.seconds;
    total.max_rss_kib = std::max(total.max_rss_kib, one.max_rss_kib);
    if (one.code != 0) total.code = one.code;
  }
  return total;
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
      // The output is written under its own name plus ".krelt-PID-...".
      const std::string name = out.substr(out.rfind('/') + 1);
      const bool to_output =
          file == out || file.find("/" + name + ".krelt-") != std::string::npos;
      if (m[1] == "read" && file == in) ++reads;
      if (m[1] == "write" && to_output) ++writes;
    } else if (std::regex_search(line, m, close_re)) {
      fds.erase(std::stoi(m[1]));
    }
  }
  return {reads, writes};
}

// Every system call of one run, by name, in the order first made.
std::string call_summary(const std::string& program, const std::string& in,
                         const std::string& out, const std::string& log) {
  const std::string command = "strace -qq -o " + log + " " + program + " " +
                              in + " " + out + " 64k > /dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "n/a";
  std::ifstream f(log);
  std::vector<std::string> order;
  std::map<std::string, int> counts;
  int total = 0;
  for (std::string line; std::getline(f, line);) {
    const size_t paren = line.find('(');
    if (paren == std::string::npos || paren == 0) continue;
    const std::string name = line.substr(0, paren);
    if (counts[name]++ == 0) order.push_back(name);
    ++total;
  }
  std::string text = std::to_string(total) + ":";
  for (const std::string& name : order) {
    text += " " + name + " " + std::to_string(counts[name]) + ",";
  }
  text.pop_back();
  return text;
}

const std::vector<std::pair<const char*, long>> SIZES = {
    {"4 KiB", 4096},
    {"64 KiB", 65536},
    {"1 MiB", 1 << 20},
    {"4 MiB - 1", (1 << 22) - 1}};

std::string base_name(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
}

int versus(const std::string& a, const std::string& b,
           const std::string& make_sample, const std::string& dir, int runs,
           int batch) {
  std::printf(
      "| image | %s median per run | %s median per run | %s/%s "
      "(median of pairs) |\n|---|---|---|---|\n",
      base_name(a).c_str(), base_name(b).c_str(), base_name(a).c_str(),
      base_name(b).c_str());
  bool all_converted = true;
  for (const auto& [label, size] : SIZES) {
    const std::string in = dir + "/in.bim", out = dir + "/out.v";
    if (run({make_sample, in, std::to_string(size)}).code != 0) return 1;
    std::vector<double> a_times, b_times, ratios;
    for (int i = -2; i < runs; ++i) {  // two rounds of warm-up
      // Each goes first half the time, so neither always meets a warmer
      // cache.
      Sample x, y;
      if (i % 2 == 0) {
        x = run_batch({a, in, out, "64k"}, batch);
        y = run_batch({b, in, out, "64k"}, batch);
      } else {
        y = run_batch({b, in, out, "64k"}, batch);
        x = run_batch({a, in, out, "64k"}, batch);
      }
      if (x.code != 0 || y.code != 0) all_converted = false;
      if (i < 0) continue;
      a_times.push_back(x.seconds);
      b_times.push_back(y.seconds);
      ratios.push_back(x.seconds / y.seconds);
    }
    std::printf("| %s | %.3f ms | %.3f ms | %.3f |\n", label,
                median(a_times) * 1e3 / batch, median(b_times) * 1e3 / batch,
                median(ratios));
  }
  std::printf("\nPairs per size: %d, each sample %d runs.\n", runs, batch);
  return all_converted ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 6 && std::string(argv[1]) == "--versus") {
    return versus(argv[2], argv[3], argv[4], argv[5],
                  argc > 6 ? std::max(1, std::atoi(argv[6])) : 21,
                  argc > 7 ? std::max(1, std::atoi(argv[7])) : 100);
  }
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: krelt_bench KRELT FLOOR MAKE_SAMPLE WORKDIR [PAIRS "
                 "[RUNS_PER_SAMPLE]]\n");
    return 2;
  }
  const std::string krelt = argv[1], floor = argv[2], make_sample = argv[3],
                    dir = argv[4];
  const int runs = argc > 5 ? std::max(1, std::atoi(argv[5])) : 21;
  const int batch = argc > 6 ? std::max(1, std::atoi(argv[6])) : 100;
  const bool have_strace = std::system("command -v strace > /dev/null") == 0;

  std::printf(
      "| image | krelt median per run | cp median per run "
      "| floor median per run | krelt/cp (median of pairs) "
      "| krelt/floor (median of pairs) "
      "| krelt peak RSS | read calls on input | write calls on output |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  const std::string floor_out = dir + "/floor.v";
  bool all_converted = true;
  std::map<std::string, double> floor_ratio;  // by label
  for (const auto& [label, size] : SIZES) {
    const std::string in = dir + "/in.bim", out = dir + "/out.v",
                      copy = dir + "/copy.v";
    if (run({make_sample, in, std::to_string(size)}).code != 0) return 1;
    std::vector<double> krelt_times, cp_times, floor_times, cp_ratios,
        floor_ratios;
    long rss = 0;
    for (int i = -2; i < runs; ++i) {  // two rounds of warm-up
      // krelt in the middle, one yardstick either side, swapped each round:
      // in both pairs (krelt, cp) and (krelt, floor) each goes first half
      // the time, so neither always meets a warmer cache.
      Sample k, c, f;
      if (i % 2 == 0) {
        c = run_batch({"cp", in, copy}, batch);
        k = run_batch({krelt, in, out, "64k"}, batch);
        f = run_batch({floor, in, floor_out, "64k"}, batch);
      } else {
        f = run_batch({floor, in, floor_out, "64k"}, batch);
        k = run_batch({krelt, in, out, "64k"}, batch);
        c = run_batch({"cp", in, copy}, batch);
      }
      if (k.code != 0 || f.code != 0) all_converted = false;
      if (i < 0) continue;
      krelt_times.push_back(k.seconds);
      cp_times.push_back(c.seconds);
      floor_times.push_back(f.seconds);
      cp_ratios.push_back(k.seconds / c.seconds);
      floor_ratios.push_back(k.seconds / f.seconds);
      rss = std::max(rss, k.max_rss_kib);
    }
    floor_ratio[label] = median(floor_ratios);
    std::string reads = "n/a", writes = "n/a";
    if (have_strace) {
      const auto [r, w] = count_io(krelt, in, out, dir + "/strace.log");
      reads = std::to_string(r);
      writes = std::to_string(w);
    }
    std::printf(
        "| %s | %.3f ms | %.3f ms | %.3f ms | %.3f | %.3f | %ld KiB | %s | %s "
        "|\n",
        label, median(krelt_times) * 1e3 / batch,
        median(cp_times) * 1e3 / batch, median(floor_times) * 1e3 / batch,
        median(cp_ratios), floor_ratio[label], rss, reads.c_str(),
        writes.c_str());
  }
  double worst = 0;
  for (const auto& [label, ratio] : floor_ratio) worst = std::max(worst, ratio);
  std::printf(
      "\nTarget krelt/floor <= 1.03 at every size: %s (at most %.3f).\n",
      worst <= 1.03 ? "met" : "not met", worst);
  const Sample baseline = run({krelt});
  std::printf(
      "\nBaseline peak RSS (too few arguments): %ld KiB; "
      "work buffer 4096 KiB. Pairs per size: %d, each sample %d runs.%s\n",
      baseline.max_rss_kib, runs, batch,
      have_strace ? "" : " (install strace for the call counts)");
  if (have_strace) {
    // Over an existing output, the usual case in a build.
    std::printf(
        "System calls of one run: %s\n",
        call_summary(krelt, dir + "/in.bim", dir + "/out.v", dir + "/calls.log")
            .c_str());
    std::printf(
        "System calls of one floor run: %s\n",
        call_summary(floor, dir + "/in.bim", floor_out, dir + "/calls.log")
            .c_str());
  }
  return all_converted ? 0 : 1;
}
