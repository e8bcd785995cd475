// End-to-end cases only the POSIX build meets: symbolic links and
// permissions, devices as outputs, readers and signals.
#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <random>
#include <thread>

#include "end_to_end.h"

namespace {

using namespace e2e;

using PosixOnly = EndToEnd;

// Whether tests may run the program as other users (setpriv as root).
bool can_change_user() {
  return geteuid() == 0 && access("/usr/bin/setpriv", X_OK) == 0;
}

RunOptions as_user(uid_t uid, gid_t gid, const std::string& groups = "") {
  RunOptions options;
  options.prefix = {"/usr/bin/setpriv", "--reuid=" + std::to_string(uid),
                    "--regid=" + std::to_string(gid),
                    groups.empty() ? "--clear-groups" : "--groups=" + groups};
  return options;
}

// Runs the program in a mount namespace of its own, after `mount` there,
// so that nothing a test mounts is seen outside it.
RunOptions after_mount(const std::string& mount) {
  RunOptions options;
  options.prefix = {"unshare", "-m", "sh", "-c",
                    mount + " && exec \"$0\" \"$@\""};
  return options;
}

struct stat stat_of(const fs::path& path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// What the output path names, made in the scratch folder: a link is kept,
// whatever it leads to; a device or pipe is written as it is and stays.
// A device is bind-mounted onto a scratch name in a private mount
// namespace, so that no fault can replace the real node.
TEST_F(PosixOnly, LinksAndDevicesAreNeverReplaced) {
  const Bytes in = image(200000);
  write("app.bim", in);
  const Bytes want = converted(in, 65536);
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> links;  // name, target
    const char* result;  // the file that receives the output, or ""
    int code;
    RunOptions options = {};
  };
  RunOptions closed;
  closed.closed_stdout = true;
  const Case cases[] = {
      {"a link to another folder", {{"out.v", "real/app.v"}}, "real/app.v", 0},
      {"a chain of links",
       {{"out.v", "mid.v"}, {"mid.v", "real/app.v"}},
       "real/app.v",
       0},
      {"a link to nothing yet", {{"out.v", "real/new.v"}}, "real/new.v", 0},
      {"a link that fails", {{"out.v", "real/app.v"}}, "", 1, {100000}},
      {"a link to nothing that fails",
       {{"out.v", "real/new.v"}},
       "",
       1,
       {100000}},
      {"/dev/null", {{"out.v", "dev/null"}}, "", 0},
      {"/dev/full", {{"out.v", "dev/full"}}, "", 1},
      {"standard output", {{"out.v", "/proc/self/fd/1"}}, "", 0},
      {"a closed standard output",
       {{"out.v", "/proc/self/fd/1"}},
       "",
       1,
       closed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir / "real");
    fs::create_directory(dir / "real");
    write("real/app.v", previous);
    fs::permissions(dir / "real/app.v", fs::perms(0640));
    const std::string device = c.links[0].second;
    RunOptions options = c.options;
    if (device.rfind("dev/", 0) == 0) {
      if (geteuid() != 0) {
        std::cout << "[ skipped  ] " << c.name << ": needs root\n";
        continue;
      }
      fs::create_directory(dir / "dev");
      write(device, {});
      options = after_mount("mount --bind /" + device + " " + device);
    }
    for (const auto& [name, target] : c.links) {
      fs::remove(dir / name);
      fs::create_symlink(target, dir / name);
    }
    const Result r = run({"app.bim", "out.v", "64k"}, options);
    EXPECT_EQ(r.code, c.code) << r.out;
    if (!options.prefix.empty()) {
      EXPECT_EQ(read(device), Bytes{}) << "the mount point written, not it";
      fs::remove_all(dir / "dev");
    }
    for (const auto& [name, target] : c.links) {
      EXPECT_TRUE(fs::is_symlink(dir / name)) << name << " is still a link";
      EXPECT_EQ(fs::read_symlink(dir / name), target);
    }
    if (*c.result != 0) {
      EXPECT_EQ(read(c.result), want);
      EXPECT_EQ(fs::status(dir / c.result).permissions(),
                c.result == std::string("real/app.v") ? fs::perms(0640)
                                                      : fs::perms(0644));
    }
    if (c.code == 1 || *c.result == 0) {
      EXPECT_EQ(read("real/app.v"), previous);
    }
    if (c.code == 1) {
      EXPECT_FALSE(exists("real/new.v")) << "no target made by a failure";
    }
    if (std::string(c.name) == "standard output") {
      EXPECT_EQ(Bytes(r.out.begin(), r.out.end()), want);
    }
    EXPECT_EQ(names_in(dir).size(), 3 + c.links.size() - 1)
        << "nothing beside the link";
    EXPECT_LE(names_in(dir / "real").size(), 2u) << "nothing beside the target";
    for (const auto& [name, target] : c.links) fs::remove(dir / name);
  }

  // A FIFO with a reader at its other end gets the image, and stays.
  ASSERT_EQ(mkfifo((dir / "fifo.v").c_str(), 0600), 0);
  Bytes received;
  std::thread reader([&] { received = read("fifo.v"); });
  EXPECT_EQ(run({"app.bim", "fifo.v", "64k"}).code, 0);
  reader.join();
  EXPECT_EQ(received, want);
  EXPECT_TRUE(S_ISFIFO(stat_of(dir / "fifo.v").st_mode));

  // A new file gets 0666 less the umask.
  const mode_t old_mask = umask(027);
  ASSERT_EQ(run({"app.bim", "new.v", "64k"}).code, 0);
  umask(old_mask);
  EXPECT_EQ(fs::status(dir / "new.v").permissions(), fs::perms(0640));
}

// Runs writing one linked output at once all succeed and keep the link;
// none takes the name of a file another run just replaced for its own,
// nor the name of one beside it, even where all have one process id (each
// in a PID namespace of its own, as containers sharing a folder).
TEST_F(PosixOnly, ParallelRunsThroughOneLink) {
  const Bytes in = image(300000);
  const Bytes want = converted(in, 65536);
  write("app.bim", in);
  fs::create_directory(dir / "real");
  fs::create_symlink("real/out.v", dir / "out.v");
  const int rounds = env("KRELT_RUNNER").empty() ? 25 : 3;
  for (int round = 0; round < rounds; ++round) {
    // Every other round the link leads to nothing yet.
    if (round % 2 == 1) fs::remove(dir / "real/out.v");
    const std::vector<Args> runs(4, Args{"app.bim", "out.v", "64k"});
    RunOptions one_pid;
    if (round % 3 == 2 && geteuid() == 0) one_pid.prefix = {"unshare", "-pf"};
    for (int code : run_together(runs, one_pid)) EXPECT_EQ(code, 0);
    ASSERT_TRUE(fs::is_symlink(dir / "out.v")) << "round " << round;
    EXPECT_EQ(read("real/out.v"), want);
    EXPECT_EQ(names_in(dir / "real").size(), 1u);
  }
}

// What `getfacl` shows of a file's access: its list, or its mode alone.
std::string access_of(const fs::path& path) {
  std::string text(4096, 0);
  FILE* pipe = popen(("getfacl -c '" + path.string() + "'").c_str(), "r");
  text.resize(fread(&text[0], 1, text.size(), pipe));
  pclose(pipe);
  return text;
}

// Runs a shell command on a path: whether it succeeded.
bool on(const std::string& command, const fs::path& path) {
  return std::system((command + " '" + path.string() + "'").c_str()) == 0;
}

// The output keeps its owner, group, mode and access list where the user
// running the program may give them (root: all; a member of its group:
// the group), with the set-id and sticky bits only where owner and group
// are kept, given after the write that would clear them. A folder's
// default list gives the replacement nothing the old file lacked, and a
// new output what a plain create gets. A folder that keeps the file
// (sticky) has it written over in place. A file its list keeps the user
// from writing, though its mode bits would allow it, is refused as it is.
TEST_F(PosixOnly, OwnerGroupModeAndAccessListAreKept) {
  if (!can_change_user() || access("/usr/bin/setfacl", X_OK) != 0) {
    GTEST_SKIP() << "needs root, setpriv and setfacl (acl)";
  }
  const Bytes in = worked_example();
  const Bytes want = with_header(in, WORKED_HEADER);
  struct Case {
    const char* name;
    uid_t owner;
    gid_t group;
    mode_t mode;
    mode_t folder_mode;  // the folder is root's, in group 4242
    RunOptions runner;
    uid_t owner_after;
    mode_t mode_after;
    const char* list = "";         // setfacl -m on the output
    const char* folder_list = "";  // and on the folder
    gid_t group_after = 0;         // 0: the group it had
    bool refused = false;
  };
  const RunOptions root;
  const RunOptions member = as_user(1002, 1002, "4242");
  const RunOptions owner = as_user(1001, 1001, "4242");
  const Case cases[] = {
      {"another user's private file", 1001, 1001, 0600, 0755, root, 1001, 0600},
      {"set-id bits, converted by root", 0, 0, 06755, 0755, root, 0, 06755},
      {"set-id bits, converted by their owner", 1001, 4242, 06755, 0770, owner,
       1001, 06755},
      {"a group member in a shared folder", 1001, 4242, 0660, 0770, member,
       1002, 0660},
      {"set-id bits, by a group member", 1001, 4242, 02770, 0770, member, 1002,
       0770},
      {"another user's file in a sticky folder", 1001, 4242, 0666, 01777,
       member, 1001, 0666},
      {"an access list", 1001, 4242, 0640, 0755, root, 1001, 0660,
       "u:65534:rw,g:100:r,m::rw"},
      {"an access list, by its owner", 1001, 4242, 0640, 0770, owner, 1001,
       0640, "u:65534:r,m::r"},
      {"a folder's default list", 1001, 4242, 0640, 0755, root, 1001, 0640, "",
       "d:u:65534:rw,d:g::r,d:o::-,d:m::rw"},
      // The group cannot be kept: the writer's own gets what others had,
      // others what the old group had, and a list's denials hold.
      {"another group's file, by its owner", 1001, 100, 0604, 0770, owner, 1001,
       0640, "", "", 1001},
      {"a list that denies, by its owner", 1001, 100, 0644, 0770, owner, 1001,
       0600, "u:3000:---", "", 1001},
      {"a list that denies the writer", 1002, 1002, 0666, 0777,
       as_user(1001, 1001), 1002, 0666, "u:1001:r--,m::rw-", "", 0, true},
  };
  fs::permissions(dir, fs::perms(0755));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(dir / "shared");
    fs::create_directory(dir / "shared");
    const fs::path shared = dir / "shared";
    ASSERT_EQ(chown(shared.c_str(), 0, 4242), 0);
    ASSERT_EQ(chmod(shared.c_str(), c.folder_mode), 0);
    if (*c.folder_list != 0 &&
        !on("setfacl -m " + std::string(c.folder_list), shared)) {
      GTEST_SKIP() << "no access lists here";
    }
    write("shared/app.bim", in);
    write("shared/app.v", previous);
    const fs::path out = shared / "app.v";
    ASSERT_EQ(chown(out.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(out.c_str(), c.mode), 0);
    // The old file has what its row gives it, not the folder's list.
    ASSERT_TRUE(on("setfacl -b", out));
    ASSERT_TRUE(*c.list == 0 || on("setfacl -m " + std::string(c.list), out));
    const std::string list = access_of(out);
    const Result r =
        run({"shared/app.bim", "shared/app.v", "64k", "1m"}, c.runner);
    if (c.refused) {
      expect_failure(r, WRITE_ERROR);
    } else {
      EXPECT_EQ(r.code, 0) << r.out;
    }
    EXPECT_EQ(read("shared/app.v"), c.refused ? previous : want);
    const struct stat st = stat_of(out);
    EXPECT_EQ(st.st_uid, c.owner_after);
    EXPECT_EQ(st.st_gid, c.group_after != 0 ? c.group_after : c.group);
    EXPECT_EQ(st.st_mode & 07777, c.mode_after);
    if (c.group_after == 0) {
      EXPECT_EQ(access_of(out), list);
    }
    if (*c.folder_list != 0) {
      // A new output gets what a plain create by the same user gets.
      EXPECT_EQ(run({"shared/app.bim", "shared/new.v", "64k"}, c.runner).code,
                0);
      std::ofstream(shared / "touched.v").put('x');
      EXPECT_EQ(access_of(shared / "new.v"), access_of(shared / "touched.v"));
      fs::remove(shared / "new.v");
      fs::remove(shared / "touched.v");
    }
    EXPECT_EQ(names_in(shared).size(), 2u);
  }
}

// The file beside a private output is never readable by others, not even
// for the moment before it gets the output's mode.
TEST_F(PosixOnly, TheFileBesideIsNeverMoreOpenThanTheOutput) {
  const Bytes in = image(1 << 20);
  write("app.bim", in);
  write("app.v", previous);
  fs::permissions(dir / "app.v", fs::perms(0600));
  const int watch = inotify_init1(IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(inotify_add_watch(watch, dir.c_str(), IN_CREATE), 0);
  std::atomic<bool> done{false};
  std::atomic<int> seen{0};
  int open_to_others = 0;
  std::thread watcher([&] {
    alignas(inotify_event) char events[4096];
    while (!done) {
      const ssize_t n = ::read(watch, events, sizeof events);
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(events + at);
        struct stat st;
        if (event->len != 0 && std::strstr(event->name, ".krelt-") &&
            stat((dir / event->name).c_str(), &st) == 0) {
          ++seen;
          open_to_others += (st.st_mode & 077) != 0;
        }
        at += sizeof(inotify_event) + event->len;
      }
    }
  });
  const mode_t old_mask = umask(0);  // nothing to narrow a careless create
  // The watcher sees a file beside only when it wins the race with the
  // rename, which a loaded machine makes rare: run until it has a few.
  for (int i = 0; i < 400 && seen < 5; ++i) {
    EXPECT_EQ(run({"app.bim", "app.v", "64k"}).code, 0);
  }
  umask(old_mask);
  done = true;
  watcher.join();
  close(watch);
  EXPECT_GT(seen, 0) << "the files beside were looked at";
  EXPECT_EQ(open_to_others, 0) << "of " << seen.load();
  EXPECT_EQ(fs::status(dir / "app.v").permissions(), fs::perms(0600));
}

// A reader polling the output sees the old file or the new one, whole.
TEST_F(PosixOnly, ReaderNeverSeesAPartialOutput) {
  const Bytes in = image(1 << 20);
  const Bytes small = converted(in, 65536), large = converted(in, 131072);
  write("app.bim", in);
  write("app.v", small);
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, bad{0};
  std::thread reader([&] {
    while (!done) {
      const Bytes seen = read("app.v");
      ++reads;
      if (seen != small && seen != large) ++bad;
    }
  });
  for (int i = 0; i < 30; ++i) {
    EXPECT_EQ(run({"app.bim", "app.v", i % 2 ? "64k" : "128k"}).code, 0);
  }
  done = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(bad.load(), 0) << "of " << reads.load() << " reads";
}

// Killed at a random moment, by any signal that ends a process, once or
// twice, a run leaves the old output or the new one, and nothing else,
// and dies of the signal it got.
TEST_F(PosixOnly, KilledRunsLeaveTheOldOutputOrTheNew) {
  Bytes in = image(0x3FFFFF);
  put_word(in, 0x18, 0x24);
  const Bytes want = converted(in, 65536);
  write("app.bim", in);
  std::mt19937 random(12345);
  // Every signal that ends a process by default (KILL aside, which cannot
  // wait), real-time ones included.
  std::set<int> skip = {SIGKILL, SIGSTOP, SIGTSTP, SIGTTIN, SIGTTOU,
                        SIGCHLD, SIGCONT, SIGURG,  SIGWINCH};
  // A runner (valgrind, qemu) or a sanitizer takes a program's faults.
  if (!env("KRELT_RUNNER").empty() || !env("KRELT_SANITIZED").empty()) {
    skip.insert({SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS});
  }
  std::vector<int> signals;
  for (int sig = 1; sig <= SIGRTMAX; ++sig) {
    if (!skip.count(sig)) signals.push_back(sig);
  }
  const int runs = env("KRELT_RUNNER").empty() ? 2 * signals.size() : 12;
  // Kills land anywhere in a run, however long a run takes here (qemu and
  // valgrind start slowly): up to one and a half clean runs in.
  const Args args = {"app.bim", "app.v", "64k"};
  const long clean_us = clean_run_us(env("KRELT_PROGRAM"), dir, args);
  std::uniform_int_distribution<long> delay(0, clean_us * 3 / 2);
  int killed = 0;
  for (int i = 0; i < runs; ++i) {
    write("app.v", previous);
    const int sig = signals[i % signals.size()];
    RunOptions copies;
    copies.signal_copies = 1 + i % 2;
    const int code = interrupted_run(env("KRELT_PROGRAM"), dir, args, sig,
                                     delay(random), copies);
    SCOPED_TRACE("run " + std::to_string(i) + ", exit " + std::to_string(code));
    EXPECT_TRUE(code == 0 || code == 128 + sig);
    killed += code == 128 + sig;
    const Bytes out = read("app.v");
    EXPECT_TRUE(out == previous || out == want);
    EXPECT_EQ(names_in(dir).size(), 2u) << "nothing left behind";
  }
  std::cout << "[ killed   ] " << killed << " of " << runs << " runs\n";

  // A signal the caller ignores (nohup) stays ignored.
  RunOptions nohup;
  nohup.ignored_signal = SIGHUP;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(interrupted_run(env("KRELT_PROGRAM"), dir, args, SIGHUP,
                              delay(random), nohup),
              0);
  }
}

// krelt takes the Windows command line, which cannot carry a '"': one in
// the four arguments it reads refuses the run; one in its own path or in
// an argument after the fourth, which it ignores, does not.
TEST_F(PosixOnly, DoubleQuotesInArguments) {
  write("app.bim", worked_example());
  const Bytes want = with_header(worked_example(), WORKED_HEADER);
  fs::create_symlink(fs::absolute(env("KRELT_PROGRAM")), dir / "kr\"elt");
  struct Case {
    const char* name;
    const char* program;
    Args args;
    bool refused;
  };
  const Case cases[] = {
      {"in the output", "", {"app.bim", "a\"b.v", "64k"}, true},
      {"in the mmarea size", "", {"app.bim", "a.v", "64k", "1\"m"}, true},
      {"after the fourth", "", {"app.bim", "a.v", "64k", "1m", "x\"y"}, false},
      {"in the program's path",
       "kr\"elt",
       {"app.bim", "a.v", "64k", "1m"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir / "a.v");
    const std::string program =
        *c.program != 0 ? (dir / c.program).string() : env("KRELT_PROGRAM");
    const Result r = run_program(program, dir, c.args);
    if (c.refused) {
      EXPECT_EQ(r.code, 1);
      EXPECT_EQ(r.out,
                "argument error: a double quote cannot be passed in an "
                "argument\r\n");
      EXPECT_EQ(names_in(dir).size(), 2u) << "no output made";
    } else {
      EXPECT_EQ(r.code, 0) << r.out;
      EXPECT_EQ(read("a.v"), want);
    }
  }
}

// Where nothing can be put beside the output and renamed over it, while
// the output may be written, it is written over: in place only its
// header, so the image stays whole (a file-size limit below its length
// does not matter); another output is emptied first and, when the write
// fails, left empty (the folder keeps it). So in a folder that takes no
// new file, one that keeps every name (append-only, where a new output
// is made directly, as a plain create does), and for an output that is a
// single file mounted over another, as containers mount volumes.
TEST_F(PosixOnly, WhereNothingCanBeRenamedTheOutputIsWrittenOver) {
  if (!can_change_user()) GTEST_SKIP() << "needs root and setpriv";
  const uid_t nobody = 65534;
  const Bytes in = image(200000);
  const Bytes want = converted(in, 65536);
  // NO_PROC: /proc hidden, so that the output's access list cannot be read.
  enum Folder { LOCKED, APPEND_ONLY, MOUNTED, NO_PROC };
  struct Case {
    const char* name;
    Folder folder;
    const char* output;  // in the folder
    rlim_t file_size_limit;
    Bytes after;  // in the output, or in the file mounted over it; {}: exit 1
    mode_t mode = 0644;  // of app.v before
  };
  const Case cases[] = {
      {"over a previous output", LOCKED, "app.v", 0, want},
      {"in place", LOCKED, "app.bim", 0, want},
      {"over a previous output, failing", LOCKED, "app.v", 100000, {}},
      {"in place, under a file-size limit", LOCKED, "app.bim", 100000, want},
      {"a write-only output", LOCKED, "app.v", 0, want, 0200},
      {"append-only, over a previous output", APPEND_ONLY, "app.v", 0, want},
      {"append-only, in place", APPEND_ONLY, "app.bim", 0, want},
      {"append-only, a new output", APPEND_ONLY, "new.v", 0, want},
      {"append-only, a new output, failing", APPEND_ONLY, "new.v", 100000, {}},
      {"a mounted output", MOUNTED, "app.v", 0, want},
      // The write fails beside it, before any rename is tried.
      {"a mounted output, failing", MOUNTED, "app.v", 100000, previous},
      {"a mounted image, in place", MOUNTED, "app.bim", 0, want},
      {"an access list that cannot be read", NO_PROC, "app.v", 0, want},
  };
  fs::permissions(dir, fs::perms(0755));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A runner (valgrind, qemu) needs /proc itself.
    if (c.folder == NO_PROC && !env("KRELT_RUNNER").empty()) continue;
    fs::remove_all(dir / "locked");
    fs::create_directory(dir / "locked");
    write("locked/app.bim", in);
    write("locked/app.v", previous);
    fs::permissions(dir / "locked/app.v", static_cast<fs::perms>(c.mode));
    const std::string output = std::string("locked/") + c.output;
    const std::string held = c.folder == MOUNTED ? "locked/held" : output;
    const int code = c.after.empty() || c.after == previous ? 1 : 0;
    RunOptions options;
    if (c.folder == LOCKED) {
      for (const char* name : {"locked/app.bim", "locked/app.v"}) {
        ASSERT_EQ(chown((dir / name).c_str(), nobody, nobody), 0);
      }
      options = as_user(nobody, nobody);
    } else if (c.folder == MOUNTED || c.folder == NO_PROC) {
      if (c.folder == MOUNTED) fs::copy_file(dir / output, dir / held);
      options = after_mount(c.folder == MOUNTED
                                ? "mount --bind " + held + " " + output
                                : "mount -t tmpfs none /proc");
    } else if (!on("chattr +a", dir / "locked")) {
      std::cout << "[ skipped  ] " << c.name << ": no chattr +a here\n";
      continue;
    }
    const auto names = names_in(dir / "locked");
    options.file_size_limit = c.file_size_limit;
    const Result r = run({"locked/app.bim", output, "64k"}, options);
    if (c.folder == APPEND_ONLY) on("chattr -a", dir / "locked");
    EXPECT_EQ(r.code, code) << r.out;
    EXPECT_EQ(read(held), c.after);
    if (output != "locked/app.bim") {
      EXPECT_EQ(read("locked/app.bim"), in);
    }
    if (c.folder == MOUNTED) {
      EXPECT_EQ(read(output), output == "locked/app.v" ? previous : in);
    }
    EXPECT_EQ(names_in(dir / "locked").size(),
              names.size() + (exists(output) && !names.count(c.output)));
  }
}

// Limits on memory give a message and exit 1, never a signal; one file
// open at a time is all a run needs.
TEST_F(PosixOnly, ResourceLimitsGiveAMessageNotASignal) {
  if (!env("KRELT_RUNNER").empty() || !env("KRELT_SANITIZED").empty()) {
    GTEST_SKIP() << "a runner (valgrind, qemu) or a sanitizer needs more "
                    "than the program";
  }
  write("app.bim", worked_example());
  RunOptions little_memory, little_stack, four_files, three_files;
  // Enough for the C library to start, not for the 4 MiB image. Below 16
  // KiB of stack the kernel's random offset of the stack top alone ends
  // most programs (/bin/true too) before they start.
  little_memory.address_space_limit = 2000 << 10;
  little_stack.stack_limit = 16 << 10;
  expect_failure(run({"app.bim", "a.v", "64k"}, little_memory), READ_ERROR);
  EXPECT_FALSE(exists("a.v"));
  EXPECT_EQ(run({"app.bim", "b.v", "64k"}, little_stack).code, 0);
  four_files.open_files_limit = 4;
  three_files.open_files_limit = 3;
  write("c.v", previous);
  EXPECT_EQ(run({"app.bim", "c.v", "64k"}, four_files).code, 0);
  write("e.bim", worked_example());
  EXPECT_EQ(run({"e.bim", "e.bim", "64k"}, four_files).code, 0);
  expect_failure(run({"app.bim", "d.v", "64k"}, three_files), READ_ERROR);
  EXPECT_EQ(names_in(dir).size(), 4u);
}

// krelt-info reads what krelt reads: a FIFO, a /proc file, and reports a
// file past the image limit as too large, with its length where the file
// system knows it.
TEST_F(PosixOnly, InfoReadsAnyReadableInput) {
  const Bytes v = with_header(worked_example(), WORKED_HEADER);
  const auto info = [&](const std::string& path) {
    return lines_of(run_program(env("KRELT_INFO"), dir, {path}).out,
                    info_line_end());
  };
  const auto has = [](const std::vector<std::string>& lines,
                      const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  };
  const auto too_large = [](const std::string& length) {
    return "check failed: length: " + length +
           ", expected at most 4194303 bytes, as krelt converts no larger "
           "image";
  };
  struct Case {
    const char* name;
    size_t bytes;  // fed through a FIFO: v, then zeros up to this length
    const char* length_line;
  };
  const Case fifo_cases[] = {
      {"whole", v.size(), "length: 0x00000064 (100)"},
      {"too large", 0x500000, "length: more than 0x003FFFFF (4194303)"},
  };
  signal(SIGPIPE, SIG_IGN);  // krelt-info stops reading a file too large
  for (const Case& c : fifo_cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    std::thread writer([&] {
      Bytes all = v;
      all.resize(c.bytes, 0);
      write("fifo", all);
    });
    const auto lines = info("fifo");
    writer.join();
    EXPECT_TRUE(has(lines, c.length_line)) << lines.size();
    EXPECT_EQ(has(lines, "result: ok"), c.bytes == v.size());
    EXPECT_EQ(has(lines, too_large("more than 0x003FFFFF (4194303)")),
              c.bytes != v.size());
    fs::remove(dir / "fifo");
  }

  const auto proc = info("/proc/self/status");
  EXPECT_TRUE(has(proc, "format: unknown"));
  EXPECT_FALSE(has(proc, "error: cannot read the file"));

  // A device that never ends is too large, its length unknown.
  fs::create_symlink("/dev/zero", dir / "zero");
  const auto zero = info("zero");
  EXPECT_TRUE(has(zero, "length: more than 0x003FFFFF (4194303)"));

  // Sparse files past 4 GiB, of lengths that fill a low word: the entry is
  // inside, only the length fails, and the length is told.
  for (const char* length : {"4294967295", "5368709120", "8589934591"}) {
    SCOPED_TRACE(length);
    const uint64_t bytes = std::stoull(length);
    write("huge.v", v);
    fs::resize_file(dir / "huge.v", bytes);
    char line[64];
    std::snprintf(line, sizeof line, "0x%0*llX (%s)", bytes >> 32 ? 16 : 8,
                  static_cast<unsigned long long>(bytes), length);
    const auto huge = info("huge.v");
    EXPECT_TRUE(has(huge, std::string("length: ") + line));
    EXPECT_TRUE(has(huge, too_large(line)));
    EXPECT_TRUE(has(huge, "result: failed"));
    EXPECT_EQ(std::count_if(huge.begin(), huge.end(),
                            [](const std::string& l) {
                              return l.rfind("check failed:", 0) == 0;
                            }),
              1);
  }
}

}  // namespace
