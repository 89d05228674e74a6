// Bad input and faults, end to end: each ends with a clear message and a status, never a crash,
// a hang or a lost file.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

extern char** environ;

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::FakeTools;
using test::RunOptions;
using test::runQuarn;
using test::TempDir;
using test::Workspace;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs quarn as the unprivileged user "nobody" when this process is root (permissions do not bite
// root), else as this user. Sets `skipped` when that cannot be done here.
test::RunResult runUnprivileged(const std::vector<std::string>& args, const RunOptions& options,
                                bool& skipped) {
  skipped = false;
  if (::geteuid() != 0) return runQuarn(args, options);
  std::vector<std::string> argv{"setpriv",        "--reuid=65534", "--regid=65534",
                                "--clear-groups", QUARN_BINARY,    "help"};
  test::RunResult probe = test::runProgram(argv, options);
  if (probe.status != 0) {
    skipped = true;
    return probe;
  }
  argv.pop_back();
  argv.insert(argv.end(), args.begin(), args.end());
  return test::runProgram(argv, options);
}

// A folder that the unprivileged user can enter, with a data folder it may write to.
struct OpenWorkspace {
  TempDir dir;
  RunOptions options;
  OpenWorkspace() {
    fs::permissions(dir.path(), fs::perms::all);
    fs::create_directory(dir / "data");
    fs::permissions(dir / "data", fs::perms::all);
    options.cwd = dir.path();
    options.env = {{"XDG_DATA_HOME", (dir / "data").string()}, {"HOME", (dir / "data").string()}};
  }
};

// Fake tools that the unprivileged user may run too.
struct OpenTools : FakeTools {
  OpenTools() {
    fs::permissions(dir(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_read |
                               fs::perms::others_exec);
  }
};

TEST(Faults, RefusedFoldersAreErrorsNamingThePath) {
  OpenWorkspace ws;
  fs::create_directory(ws.dir / "unlistable");
  ws.dir.write("unlistable/Makefile");
  fs::permissions(ws.dir / "unlistable",
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::create_directory(ws.dir / "closed");
  fs::permissions(ws.dir / "closed", fs::perms::owner_all);
  struct Case {
    std::string folder, message;
  };
  const Case cases[] = {
      {"unlistable",
       "[error] filesystem error: directory_iterator::directory_iterator: Permission denied "
       "[unlistable]\n"},
      {"closed", "[error] filesystem error: exists: Permission denied [closed/.csproj]\n"},
  };
  for (const Case& c : cases) {
    for (const std::string command : {"detect", "build"}) {
      bool skipped = false;
      const test::RunResult result = runUnprivileged({command, c.folder}, ws.options, skipped);
      if (skipped) GTEST_SKIP() << "cannot run quarn as an unprivileged user here: " << result.err;
      EXPECT_EQ(result.status, 1) << command << " " << c.folder;
      EXPECT_EQ(result.out, test::banner() + c.message) << command;
    }
  }
}

TEST(Faults, AnUnwritableDataFolderIsAWarning) {
  OpenWorkspace ws;
  fs::create_directory(ws.dir / "readonly");
  fs::permissions(ws.dir / "readonly", fs::perms::owner_all | fs::perms::group_read |
                                           fs::perms::group_exec | fs::perms::others_read |
                                           fs::perms::others_exec);
  ws.dir.write("app/Makefile");
  fs::permissions(ws.dir / "app", fs::perms::all);
  ws.options.env = {{"APPDATA", (ws.dir / "readonly").string()}};
  bool skipped = false;
  const test::RunResult result = runUnprivileged({"detect", "app"}, ws.options, skipped);
  if (skipped) GTEST_SKIP() << "cannot run quarn as an unprivileged user here";
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("[warning] Could not create data directory '" +
                                 (ws.dir / "readonly/Quarn").string() + "': Permission denied\n" +
                                 test::banner(),
                             0),
            0u)
      << result.out;
}

TEST(Faults, DataFolderVariablesPointingIntoAFile) {
  const TempDir dir;
  const fs::path file = dir.write("file");
  const std::pair<std::string, std::string> cases[] = {
      {"HOME", file.string() + "/.local/share/Quarn"},
      {"XDG_DATA_HOME", file.string() + "/Quarn"},
      {"APPDATA", file.string() + "/Quarn"},
  };
  for (const auto& [variable, path] : cases) {
    RunOptions options;
    options.env = {{variable, file.string()}};
    const test::RunResult result = runQuarn({"help"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind(
                  "[warning] Could not create data directory '" + path + "': Not a directory\n", 0),
              0u)
        << result.out;
  }
}

TEST(Faults, PathsTheSystemCannotTakeAreErrors) {
  const std::string tooDeep = [] {
    std::string path;
    for (int i = 0; i < 2100; ++i) path += "d/";
    return path;
  }();
  for (const std::string& path : {tooDeep, std::string(300, 'n')}) {
    const test::RunResult result = runQuarn({"detect", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.out, "[error] filesystem error: exists: File name too long ["))
        << result.out.substr(0, 300);
  }
}

TEST(Faults, NamesThatAreNotUtf8PassAsBytes) {
  const TempDir dir;
  const std::string folder = "proj-\xff\xfe";
  dir.write(folder + "/Makefile");
  dir.write("dotnet/\xff\xfe.CSPROJ");
  RunOptions options;
  options.cwd = dir.path();
  const test::RunResult info = runQuarn({"info", folder}, options);
  EXPECT_EQ(info.status, 0);
  EXPECT_TRUE(contains(info.out, "[info] Project: " + folder + "\n[info] Type: C (Make)\n"))
      << info.out;
  const test::RunResult detect = runQuarn({"detect", "dotnet"}, options);
  EXPECT_TRUE(contains(detect.out, "[info] Project Type: C# (.NET)\n")) << detect.out;
}

// The 200,000-entry folder is bench/run's; a few thousand entries prove the same here.
TEST(Faults, AFolderOfManyEntries) {
  const TempDir dir;
  fs::create_directory(dir / "huge");
  const std::string base = (dir / "huge/entry-").string();
  for (int i = 0; i < 5000; ++i) {
    const int fd = ::open((base + std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  RunOptions options;
  options.cwd = dir.path();
  const test::RunResult unknown = runQuarn({"detect", "huge"}, options);
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, test::banner() + "[warning] Unknown project type\n");
  dir.write("huge/Old.sln.bak");
  EXPECT_EQ(runQuarn({"detect", "huge"}, options).status, 0);
}

TEST(Faults, AMarkerThatIsAFifoOrSocketCountsAndIsNeverOpened) {
  Workspace ws;
  fs::create_directory(ws.dir / "app");
  ASSERT_EQ(::mkfifo((ws.dir / "app/Makefile").c_str(), 0644), 0);
  fs::create_directory(ws.dir / "sock");
  // A socket bound in the folder, the marker's name its path.
  const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (ws.dir / "sock/package.json").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ws.tools.add("make", "echo built");
  ws.tools.add("npm", "echo built");
  const test::RunResult detect = ws.quarn({"detect", "app"});
  EXPECT_TRUE(contains(detect.out, "[info] Project Type: C (Make)\n")) << detect.out;
  const test::RunResult build = ws.quarn({"build", "app"});
  EXPECT_EQ(build.status, 0);
  EXPECT_TRUE(
      contains(ws.quarn({"detect", "sock"}).out, "[info] Project Type: JavaScript (npm)\n"));
  ::close(socketFd);
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
  for (const std::string target : {"-", "/dev/full"}) {
    RunOptions options;
    options.stdoutFile = target;
    const test::RunResult result = runQuarn({"help"}, options);
    EXPECT_EQ(result.status, 1) << target;
    EXPECT_EQ(result.err, "quarn: error writing standard output\n") << target;
  }
}

TEST(Faults, AReaderThatLeavesEarlyEndsQuarnOnlyBySigpipe) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", "i=0; while [ $i -lt 20000 ]; do echo line $i; i=$((i+1)); done");
  for (const std::string command : {"help", "build app"}) {
    const test::RunResult result =
        test::runProgram({"bash", "-c",
                          std::string(QUARN_BINARY) + " " + command +
                              " | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}"},
                         ws.options);
    const int status = std::stoi(result.out);
    EXPECT_TRUE(status == 0 || status == 141 || status == 1) << command << ": " << status;
  }
}

TEST(Faults, ABuildThatPrints50MegabytesPassesEveryByte) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", "head -c 50000000 /dev/zero | tr '\\000' x");
  const test::RunResult result = ws.quarn({"build", "app"});
  EXPECT_EQ(result.status, 0);
  const size_t start = result.out.find("[info] Building with: make\n\n") + 28;
  EXPECT_EQ(result.out.find_first_not_of('x', start), start + 50000000);
  EXPECT_TRUE(contains(result.out.substr(start + 50000000), "\n[info] ✓ Build successful ("));
}

// A fake tool that records its process id in `pidFile`, then sleeps as that same process.
std::string recordPidThenSleep(const fs::path& pidFile) {
  const std::string file = "'" + pidFile.string() + "'";
  return "echo $$ > " + file + ".tmp; mv " + file + ".tmp " + file + "; exec sleep 60";
}

// Sends Ctrl-C's signal to quarn's process group, as a terminal does, once `pidFile` is there.
std::function<void(int)> interruptOnceStarted(const fs::path& pidFile) {
  return [pidFile](int group) {
    for (int i = 0; i < 1000 && !fs::exists(pidFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-group, SIGINT);
  };
}

TEST(Faults, CtrlCDuringABuildEndsItWithStatus130AndLeavesNoChild) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  const fs::path started = ws.dir / "started";
  ws.tools.add("make", recordPidThenSleep(started));
  ws.options.whileRunning = interruptOnceStarted(started);
  const auto begin = std::chrono::steady_clock::now();
  const test::RunResult result = ws.quarn({"build", "app"});
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  EXPECT_EQ(result.status, 130);
  // Ended by the signal itself, so that a calling shell's loop stops as well.
  EXPECT_TRUE(result.signalled);
  EXPECT_TRUE(contains(result.out, "\n[error] ✗ Build failed (")) << result.out;
  EXPECT_TRUE(test::processEnds(started)) << "the build's child is still running";
}

// The probe runs in a process group of its own, out of the terminal's reach; quarn ends it.
TEST(Faults, CtrlCDuringAVersionProbeLeavesNoProbeRunning) {
  Workspace ws;
  ws.dir.write("app/pom.xml");
  const fs::path started = ws.dir / "started";
  ws.tools.add("mvn", recordPidThenSleep(started));
  ws.options.whileRunning = interruptOnceStarted(started);
  const test::RunResult result = ws.quarn({"validate", "app"});
  EXPECT_EQ(result.status, 128 + SIGINT);
  EXPECT_TRUE(test::processEnds(started)) << "the version command is still running";
}

// A fake tool that builds by touching "built" and otherwise waits on a child, as a build tool's
// shell does: it records its own id and then its child's in `pidFile`. A child that `cleansUp`
// is a recipe with a trap: at SIGTERM or SIGHUP it takes a moment to print "cleanup-done", after
// the tool itself has gone, and its own child is recorded too. Traps are set after the child is
// started: a child that dash has forked but not yet reset takes a signal into the trap it
// inherited, and loses it.
std::string touchOrWaitOnAChild(const fs::path& pidFile, bool cleansUp = false) {
  const std::string file = "'" + pidFile.string() + "'";
  const std::string child =
      cleansUp ? "'sleep 60 & trap \"sleep 0.3; echo cleanup-done; exit 1\" TERM HUP; "
                 "printf \"%s\\n\" $$ $! >> \"$0.tmp\"; mv \"$0.tmp\" \"$0\"; wait'"
               : "'echo $$ >> \"$0.tmp\"; mv \"$0.tmp\" \"$0\"; exec sleep 60'";
  const std::string build = "if [ \"$1\" = build ]; then touch built; exit 0; fi\n";
  return build + "echo $$ > " + file + ".tmp\n/bin/sh -c " + child + " " + file;
}

// Sends `signal` to quarn alone, or to its process group as a terminal does, once `pidFile` is
// there; then sets `ended` when every process it names ends within a few seconds. Asked while
// quarn runs: a process left behind would hold quarn's output open until it ended by itself.
std::function<void(int)> signalOnceStarted(const fs::path& pidFile, int signal, bool toGroup,
                                           bool& ended) {
  return [pidFile, signal, toGroup, &ended](int pid) {
    for (int i = 0; i < 1000 && !fs::exists(pidFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(toGroup ? -pid : pid, signal);
    ended = fs::exists(pidFile) && test::processEnds(pidFile);
  };
}

// A stop signal during a step ends every process of the step, nothing runs after it, and quarn
// then ends by that same signal. It reports only once every process of the step has ended, also
// one that cleans up after the tool has gone.
TEST(Faults, AStopSignalEndsTheStepAndThenQuarnBySignal) {
  struct Case {
    std::string name;
    int signal;
    bool toGroup;  // as Ctrl-C on a terminal; else to quarn alone, as kill does
    std::vector<std::string> args;
    std::string marker, tool;
    std::string verdict;  // empty: none
    bool cleansUp = false;
  };
  // clang-format off
  const Case cases[] = {
      {"SIGTERM, build",           SIGTERM, false, {"build", "app"},    "Makefile",   "make",
       "\n[error] ✗ Build failed ("},
      {"SIGHUP, build",            SIGHUP,  false, {"build", "app"},    "Makefile",   "make",
       "\n[error] ✗ Build failed ("},
      {"SIGTERM, rebuild's clean", SIGTERM, false, {"rebuild", "app"},  "Cargo.toml", "cargo",
       "[error] ✗ Rebuild interrupted while cleaning\n"},
      {"Ctrl-C, rebuild's clean",  SIGINT,  true,  {"rebuild", "app"},  "Cargo.toml", "cargo",
       "[error] ✗ Rebuild interrupted while cleaning\n"},
      {"SIGHUP, clean",            SIGHUP,  false, {"clean", "app"},    "Cargo.toml", "cargo",
       "[error] ✗ Clean interrupted ("},
      {"Ctrl-C, clean",            SIGINT,  true,  {"clean", "app"},    "Cargo.toml", "cargo",
       "[error] ✗ Clean interrupted ("},
      {"SIGTERM, test",            SIGTERM, false, {"test", "app"},     "Cargo.toml", "cargo",
       "\n[error] ✗ Tests failed ("},
      {"Ctrl-C, test",             SIGINT,  true,  {"test", "app"},     "Cargo.toml", "cargo",
       "\n[error] ✗ Tests failed ("},
      {"SIGTERM, version probe",   SIGTERM, false, {"validate", "app"}, "pom.xml",    "mvn", ""},
      {"SIGHUP, version probe",    SIGHUP,  false, {"validate", "app"}, "pom.xml",    "mvn", ""},
      {"SIGTERM, build cleaning up", SIGTERM, false, {"build", "app"},  "Makefile",   "make",
       "\n[error] ✗ Build failed (", true},
      {"SIGHUP, clean cleaning up", SIGHUP, false, {"clean", "app"},    "Cargo.toml", "cargo",
       "[error] ✗ Clean interrupted (", true},
  };
  // clang-format on
  for (const Case& c : cases) {
    Workspace ws;
    ws.dir.write("app/" + c.marker);
    const fs::path started = ws.dir / "started";
    ws.tools.add(c.tool, touchOrWaitOnAChild(started, c.cleansUp));
    bool ended = false;
    ws.options.whileRunning = signalOnceStarted(started, c.signal, c.toGroup, ended);
    const test::RunResult result = ws.quarn(c.args);
    EXPECT_EQ(result.status, 128 + c.signal) << c.name << "\n" << result.out;
    EXPECT_TRUE(result.signalled) << c.name;
    EXPECT_TRUE(contains(result.out, c.verdict)) << c.name << "\n" << result.out;
    if (c.cleansUp) {
      EXPECT_LT(result.out.find("cleanup-done\n"), result.out.find(c.verdict))
          << c.name << ": reported before the step had ended\n"
          << result.out;
    }
    EXPECT_TRUE(ended) << c.name << ": the tool never ran, or a process of it outlived the signal";
    EXPECT_FALSE(fs::exists(ws.dir / "app/built")) << c.name << ": built after the signal";
  }
}

// On a terminal the build runs in quarn's process group, which keeps the terminal's foreground: the
// build is part of quarn's job, as make's commands are, from its first instruction on.
TEST(Faults, OnATerminalTheBuildRunsInQuarnsGroupWhichKeepsTheForeground) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  // Fields 5 and 8 of /proc/PID/stat: the process group and the terminal's foreground group.
  const std::string groups = "read -r s < /proc/$$/stat; set -- $s; echo \"$5 $8\"";
  ws.tools.add("make", "echo \"make: $(" + groups + ")\"");
  const fs::path outer =
      ws.dir.write("outer.sh", "echo \"before: $(" + groups + ")\"\n" + std::string(QUARN_BINARY) +
                                   " build app\necho \"after: $(" + groups + ")\"\n");
  const test::RunResult result =
      test::runProgram({"script", "-qefc", "/bin/sh " + outer.string(), "/dev/null"}, ws.options);
  ASSERT_EQ(result.status, 0) << result.out;
  auto pair = [&result](const std::string& label) {
    const size_t at = result.out.find(label + ": ");
    if (at == std::string::npos) return std::pair<std::string, std::string>();
    std::istringstream line(result.out.substr(at + label.size() + 2));
    std::string group, foreground;
    line >> group >> foreground;
    return std::pair{group, foreground};
  };
  const auto [quarnGroup, before] = pair("before");
  const auto [makeGroup, makeForeground] = pair("make");
  const auto [afterGroup, after] = pair("after");
  ASSERT_FALSE(quarnGroup.empty() || makeGroup.empty() || afterGroup.empty()) << result.out;
  EXPECT_EQ(before, quarnGroup) << "quarn must start in the foreground";
  EXPECT_EQ(makeGroup, quarnGroup) << result.out;
  EXPECT_EQ(makeForeground, quarnGroup) << result.out;
  EXPECT_EQ(after, quarnGroup) << result.out;
}

// A process of a terminal's session, as /proc tells it.
struct Member {
  pid_t pid;
  char state;
  long group;
};

// The processes of the session `session` but its leader that have not ended.
std::vector<Member> sessionMembers(pid_t session) {
  std::vector<Member> members;
  std::error_code error;
  for (fs::directory_iterator entry("/proc", error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = test::readFile(entry->path() / "stat");
    const size_t fields = stat.rfind(") ");
    if (fields == std::string::npos) continue;
    std::istringstream values(stat.substr(fields + 2));
    char state = 0;
    long parent = 0, group = 0, sid = 0;
    if (!(values >> state >> parent >> group >> sid)) continue;
    const pid_t pid = std::stoi(name);
    if (sid == session && pid != session && state != 'Z') members.push_back({pid, state, group});
  }
  return members;
}

// An interactive bash on a pseudo-terminal of its own, in `ws`, with quarn on its PATH, driven as a
// user at the keyboard drives it: type() sends keys (Ctrl-C is "\x03", Ctrl-Z "\x1a"), shows()
// reads the screen. Every wait is bounded; whatever still runs on the terminal at the end is
// killed.
class InteractiveShell {
 public:
  static constexpr const char* kPrompt = "quarn-test$ ";

  explicit InteractiveShell(const Workspace& ws) {
    fs::create_symlink(QUARN_BINARY, ws.tools.dir() / "quarn");
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text(*entry);
      const std::string name = text.substr(0, text.find('='));
      if (name != "PATH" && name != "HOME" && name != "PS1" && name != "TERM" && name != "ENV" &&
          name != "BASH_ENV" && name != "HISTFILE" && name != "NO_COLOR") {
        env.push_back(text);
      }
    }
    env.insert(env.end(), {"PATH=" + ws.tools.dir().string(), "HOME=" + ws.dir.path().string(),
                           std::string("PS1=") + kPrompt, "TERM=dumb", "HISTFILE=", "NO_COLOR=1"});
    std::vector<char*> envp;
    envp.reserve(env.size() + 1);
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    // -b: the shell tells of a job that stops or ends at once, not at the next prompt.
    const char* argv[] = {"bash", "--norc", "--noprofile", "-ib", nullptr};
    const std::string dir = ws.dir.path().string();
    pid_ = ::forkpty(&terminal_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      if (::chdir(dir.c_str()) == 0) ::execve("/bin/bash", const_cast<char**>(argv), envp.data());
      ::_exit(127);
    }
  }
  InteractiveShell(const InteractiveShell&) = delete;
  InteractiveShell& operator=(const InteractiveShell&) = delete;
  ~InteractiveShell() {
    if (pid_ <= 0) return;
    for (const Member& member : sessionMembers(pid_)) ::kill(member.pid, SIGKILL);
    ::kill(pid_, SIGKILL);
    ::close(terminal_);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }

  bool started() const { return pid_ > 0; }
  const std::string& screen() const { return screen_; }

  void type(const std::string& keys) const {
    for (size_t done = 0; done < keys.size();) {
      const ssize_t count = ::write(terminal_, keys.data() + done, keys.size() - done);
      if (count <= 0) return;
      done += static_cast<size_t>(count);
    }
  }

  // Waits a few seconds at most for `text` to show after what earlier calls found.
  bool shows(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
      const size_t at = screen_.find(text, seen_);
      if (at != std::string::npos) {
        seen_ = at + text.size();
        return true;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd readable{terminal_, POLLIN, 0};
      if (::poll(&readable, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t count = ::read(terminal_, buffer, sizeof buffer);
      if (count <= 0) return false;
      screen_.append(buffer, static_cast<size_t>(count));
    }
  }

  // The processes on the terminal but the shell: " PID(state, group)" each.
  std::string processes() const {
    std::string text;
    for (const Member& m : sessionMembers(pid_)) {
      text += " " + std::to_string(m.pid) + "(" + m.state + ", " + std::to_string(m.group) + ")";
    }
    return text;
  }

  // Whether, within a few seconds, every process on the terminal but the shell is stopped, all in
  // one process group, the one job the shell knows (`stopped`); or none is left at all. A shell
  // whose child stopped between vfork and exec waits for it in the kernel (state D).
  bool jobIs(bool stopped) const {
    for (int i = 0; i < 500; ++i) {
      const std::vector<Member> members = sessionMembers(pid_);
      const bool oneStoppedJob =
          !members.empty() && std::all_of(members.begin(), members.end(), [&](const Member& m) {
            return (m.state == 'T' || m.state == 'D') && m.group == members.front().group;
          });
      if (stopped ? oneStoppedJob : members.empty()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

 private:
  pid_t pid_ = -1;
  int terminal_ = -1;
  std::string screen_;
  size_t seen_ = 0;
};

// On a terminal quarn and its build are one job of the shell, as make and its commands are: Ctrl-C
// reaches the script around quarn too, Ctrl-Z stops them all, fg and bg work, a background build
// that reads the terminal is stopped until fg, and quarn reports after the build has ended.
TEST(Faults, OnATerminalQuarnAndItsBuildAreOneJob) {
  struct Step {
    std::string keys;         // typed first
    std::string shows;        // then awaited on the screen; empty: nothing
    bool stopped = false;     // then quarn and the build must be one stopped job
    bool typedLater = false;  // typed a moment after the step before, as a user would
  };
  struct Case {
    std::string name;
    std::string build;  // app/build.sh
    std::vector<Step> steps;
    std::string never;  // must not show; empty: nothing
  };
  const std::string prompt = InteractiveShell::kPrompt;
  // Runs until the test creates app/go, typed at the prompt once the keys before have been dealt
  // with: a build that ended by itself first would prove nothing.
  const std::string waits =
      "echo build-started; until [ -e go ]; do sleep 0.1; done; echo build-finished\n";
  const std::vector<Case> cases = {
      {"Ctrl-C stops a script's loop around quarn",
       "echo build-started; sleep 10\n",
       {{"bash loop.sh\n", "build-started"},
        {"\x03", prompt, false, true},
        {"echo rc:$?\n", "rc:130"}},
       "iteration"},
      {"a background build that reads the terminal stops until fg",
       "echo build-started; read line; echo \"read:$line\"\n",
       {{"quarn build app -q &\n", "Stopped", true},
        {"fg\n", "fg\r\nquarn build app -q\r\n"},
        {"typed-line\n", "read:typed-line"},
        {"", "✓ Build successful"},
        {"echo rc:$?\n", "rc:0"}},
       ""},
      {"Ctrl-Z then bg: the build goes on, a Ctrl-C at the prompt is the shell's",
       waits,
       {{"quarn build app -q\n", "build-started"},
        {"\x1a", "Stopped", true},
        {"bg\n", "quarn build app -q &"},
        {"\x03", "^C", false, true},
        {"", prompt},
        {"touch app/go\n", "build-finished"},
        {"", "✓ Build successful"}},
       "Build failed"},
      {"a script's background quarn keeps its build through the script's Ctrl-C",
       waits,
       {{"bash -c 'quarn build app -q & wait'\n", "build-started"},
        {"\x03", prompt, false, true},
        {"touch app/go\n", "build-finished"},
        {"", "✓ Build successful"}},
       "Build failed"},
      {"Ctrl-Z stops quarn and the build until fg",
       waits,
       {{"quarn build app -q\n", "build-started"},
        {"\x1a", "Stopped", true},
        {"touch app/go; fg\n", "build-finished"},
        {"", "✓ Build successful"},
        {"echo rc:$?\n", "rc:0"}},
       ""},
      {"a SIGTERM to quarn alone reaches every process of the build",
       "sleep 10 &\ntrap 'echo got-term; exit 1' TERM\necho build-started\nwait\n",
       {{"quarn build app -q &\n", "build-started"},
        {"kill $!\n", "got-term"},
        {"", "✗ Build failed"},
        {"", "Terminated"}},
       ""},
      {"under timeout quarn reports after the build's clean-up",
       "sleep 10 &\ntrap 'sleep 0.3; echo cleanup-done; exit 1' TERM\necho build-started\nwait\n",
       {{"timeout 0.5 quarn build app -q; echo rc:$?\n", "build-started"},
        {"", "cleanup-done"},
        {"", "✗ Build failed"},
        {"", "rc:124"}},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Workspace ws;
    ws.tools.linkSystem({"timeout"});
    ws.dir.write("app/quarn.toml", "build = \"/bin/sh build.sh\"\n");
    ws.dir.write("app/build.sh", c.build);
    ws.dir.write("loop.sh",
                 "for i in 1 2 3; do quarn build app -q; echo \"iteration $i rc=$?\"; done\n");
    InteractiveShell shell(ws);
    ASSERT_TRUE(shell.started());
    ASSERT_TRUE(shell.shows(prompt)) << shell.screen();
    bool ok = true;
    for (const Step& step : c.steps) {
      if (step.typedLater) std::this_thread::sleep_for(std::chrono::milliseconds(300));
      shell.type(step.keys);
      ok = step.shows.empty() || shell.shows(step.shows);
      EXPECT_TRUE(ok) << "never showed \"" << step.shows << "\"\n" << shell.screen();
      if (ok && step.stopped) {
        ok = shell.jobIs(true);
        EXPECT_TRUE(ok) << "quarn and its build are not one stopped job:" << shell.processes()
                        << "\n"
                        << shell.screen();
      }
      if (!ok) break;
    }
    if (!c.never.empty()) {
      EXPECT_FALSE(contains(shell.screen(), c.never)) << shell.screen();
    }
    if (ok) {
      EXPECT_TRUE(shell.jobIs(false)) << "a process outlived the job\n" << shell.screen();
    }
  }
}

// A build that ignores the stop signal is killed 10 seconds after it, with a line that says so,
// and quarn reports only then, in its own group as in quarn's. The rows run at once, so that the
// test takes those 10 seconds once.
TEST(Faults, ABuildThatOutlivesAStopSignalIsKilledAfterTenSeconds) {
  struct Case {
    std::string name;
    bool terminal;  // under timeout on a terminal; else SIGTERM to quarn alone, without one
    int status;
  };
  const Case cases[] = {
      {"no terminal: the build's own group", false, 128 + SIGTERM},
      {"on a terminal: quarn's group", true, 124},
  };
  std::vector<std::unique_ptr<Workspace>> spaces;
  std::vector<std::future<test::RunResult>> runs;
  for (const Case& c : cases) {
    auto ws = std::make_unique<Workspace>();
    ws->tools.linkSystem({"timeout"});
    ws->options.env["NO_COLOR"] = "1";
    ws->dir.write("app/quarn.toml", "build = \"/bin/sh build.sh\"\n");
    ws->dir.write("app/build.sh",
                  "trap '' TERM\nsleep 30 &\nprintf '%s\\n' $$ $! > pids.tmp\nmv pids.tmp pids\n"
                  "wait\n");
    const fs::path pids = ws->dir / "app/pids";
    if (c.terminal) {
      const std::string line = "timeout 0.5 " + std::string(QUARN_BINARY) + " build app";
      runs.push_back(std::async(std::launch::async, [line, options = ws->options] {
        return test::runProgram({"script", "-qefc", line, "/dev/null"}, options);
      }));
    } else {
      ws->options.whileRunning = [pids](int pid) {
        for (int i = 0; i < 1000 && !fs::exists(pids); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGTERM);
      };
      runs.push_back(std::async(std::launch::async, [&ws = *ws] {
        return ws.quarn({"build", "app"});
      }));
    }
    spaces.push_back(std::move(ws));
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    const Case& c = cases[i];
    const test::RunResult result = runs[i].get();
    EXPECT_EQ(result.status, c.status) << c.name << "\n" << result.out;
    const size_t warning = result.out.find(
        "[warning] '/bin/sh build.sh' did not stop within 10 seconds of SIGTERM; killing it");
    EXPECT_NE(warning, std::string::npos) << c.name << "\n" << result.out;
    EXPECT_LT(warning, result.out.find("[error] ✗ Build failed (10s)")) << c.name << result.out;
    EXPECT_TRUE(test::processEnds(spaces[i]->dir / "app/pids")) << c.name;
  }
}

// As process 1 of a container (here of a process namespace of its own) quarn reaps what the build
// leaves orphaned while it runs; without it those processes stay zombies until quarn ends.
TEST(Faults, AsProcessOneQuarnReapsWhatTheBuildLeavesOrphaned) {
  Workspace ws;
  ws.tools.linkSystem({"unshare", "grep"});
  ws.dir.write("app/quarn.toml", "build = \"/bin/sh build.sh\"\n");
  ws.dir.write("app/build.sh",
               "(sleep 0.1 &)\nsleep 0.5\n"
               "echo \"zombies: $(cat /proc/[0-9]*/stat 2>/dev/null | grep -c ') Z ')\"\n");
  const std::vector<std::string> unshare{"unshare", "--pid", "--fork", "--mount-proc"};
  std::vector<std::string> probe = unshare;
  probe.emplace_back("/bin/true");
  if (test::runProgram(probe, ws.options).status != 0) {
    GTEST_SKIP() << "cannot make a process namespace here";
  }
  std::vector<std::string> argv = unshare;
  argv.insert(argv.end(), {QUARN_BINARY, "build", "app"});
  const test::RunResult result = test::runProgram(argv, ws.options);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_TRUE(contains(result.out, "\nzombies: 0\n")) << result.out;
}

// A parent that ignores SIGCHLD passes that on; quarn must still learn how its children ended.
TEST(Faults, StartedWithSigchldIgnoredStepsStillReportTheirOutcome) {
  struct Case {
    std::vector<std::string> args;
    std::string marker, tool, script, line;
  };
  const Case cases[] = {
      {{"build", "app"}, "Makefile", "make", "true", "[info] ✓ Build successful ("},
      {{"clean", "app"}, "Cargo.toml", "cargo", "true", "[info] ✓ Clean successful ("},
      {{"validate", "app"}, "Makefile", "make", "echo 'make 9.9'", "[info] Version: make 9.9\n"},
  };
  for (const Case& c : cases) {
    Workspace ws;
    ws.dir.write("app/" + c.marker);
    ws.tools.add(c.tool, c.script);
    ws.options.ignoredSignals = {SIGCHLD};
    const test::RunResult result = ws.quarn(c.args);
    EXPECT_EQ(result.status, 0) << c.args[0] << "\n" << result.out;
    EXPECT_TRUE(contains(result.out, c.line)) << result.out;
  }
}

// An empty path names the current folder, also for markers that only the listing finds.
TEST(Faults, AnEmptyPathIsTheCurrentFolder) {
  struct Case {
    std::string marker;
    bool brokenLink;
    std::string type;
  };
  const Case cases[] = {
      {"App.csproj", false, "C# (.NET)"},
      {"Cargo.toml", true, "Rust (Cargo)"},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    if (c.brokenLink) {
      fs::create_symlink(dir / "no-such-file", dir / c.marker);
    } else {
      dir.write(c.marker);
    }
    RunOptions options;
    options.cwd = dir.path();
    const test::RunResult result = runQuarn({"detect", ""}, options);
    EXPECT_EQ(result.status, 0) << c.marker << "\n" << result.out;
    EXPECT_TRUE(contains(result.out, "[info] Project Type: " + c.type + "\n")) << result.out;
  }
}

// A folder name or a tool's version line cannot forge a log line or drive the terminal: quarn's
// own lines show control characters escaped. The build's output is the tool's, passed untouched.
TEST(Faults, ControlCharactersInTextQuarnDidNotWriteAreEscaped) {
  Workspace ws;
  const std::string name = "a\n[info] forged\x1b[31m";
  const std::string escaped = "a\\n[info] forged\\x1b[31m";
  ws.dir.write(name + "/Makefile");
  fs::create_directories(ws.dir / name / "sub");
  fs::create_directory(ws.dir / ".git");  // a work tree, where the root is looked for upwards
  ws.dir.write(name + "-toml/Makefile");
  ws.dir.write(name + "-toml/quarn.toml", "kind = 5\n");
  ws.tools.add(
      "make",
      "if [ \"$1\" = --version ]; then printf 'make 1.0\\033]0;title\\007\\r[info] forged\\n';"
      " else printf '\\033[31mred\\033[0m\\n'; fi");
  const std::string raw = "\x1b[31mred\x1b[0m\n";
  struct Case {
    std::vector<std::string> args;
    fs::path cwd;
    std::string line;
    std::string buildOutput;  // the tool's own, to arrive as it was written
  };
  const Case cases[] = {
      {{"info", name}, ws.dir.path(), "[info] Project: " + escaped + "\n", ""},
      {{"build"},
       ws.dir / name / "sub",
       "[info] Project root: " + (ws.dir.path() / escaped).string() + "\n",
       raw},
      {{"build", name + "-toml"},
       ws.dir.path(),
       "[error] " + escaped + "-toml/quarn.toml:1:8: 'kind' must be a string\n",
       ""},
      {{"validate", name},
       ws.dir.path(),
       "[info] Version: make 1.0\\x1b]0;title\\x07\\r[info] forged\n",
       ""},
  };
  for (const Case& c : cases) {
    RunOptions options = ws.options;
    options.cwd = c.cwd;
    const test::RunResult result = runQuarn(c.args, options);
    EXPECT_TRUE(contains(result.out, c.line)) << c.args[0] << "\n" << result.out;
    std::string quarnsOwn = result.out;
    if (!c.buildOutput.empty()) {
      const size_t at = quarnsOwn.find(c.buildOutput);
      EXPECT_NE(at, std::string::npos) << "the build's output was changed:\n" << result.out;
      if (at != std::string::npos) quarnsOwn.erase(at, c.buildOutput.size());
    }
    EXPECT_EQ(quarnsOwn.find_first_of("\x1b\r"), std::string::npos) << result.out;
    EXPECT_FALSE(contains(quarnsOwn, "\n[info] forged")) << result.out;
  }
}

// The kernel ends the probe should quarn be killed outright, when no handler can run.
TEST(Faults, AVersionProbeEndsWhenQuarnIsKilled) {
  Workspace ws;
  ws.dir.write("app/pom.xml");
  const fs::path started = ws.dir / "started";
  ws.tools.add("mvn", recordPidThenSleep(started));
  bool ended = false;
  ws.options.whileRunning = signalOnceStarted(started, SIGKILL, false, ended);
  const test::RunResult result = ws.quarn({"validate", "app"});
  EXPECT_EQ(result.status, 128 + SIGKILL);
  EXPECT_TRUE(ended) << "the version command outlived quarn";
}

// A limit of one process for its user leaves quarn unable to start anything.
TEST(Faults, AStepThatCannotStartSaysWhy) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run quarn as a user of its own";
  struct Case {
    std::vector<std::string> args;
    std::string marker, tool, error, verdict;
  };
  const Case cases[] = {
      {{"build", "app"},
       "Makefile",
       "make",
       "[error] Could not start the build: Resource temporarily unavailable\n",
       "[error] ✗ Build failed ("},
      {{"clean", "app"},
       "Cargo.toml",
       "cargo",
       "[error] Could not start 'cargo clean': Resource temporarily unavailable\n",
       "[error] ✗ Clean failed ("},
  };
  for (const Case& c : cases) {
    OpenWorkspace ws;
    ws.dir.write("app/" + c.marker);
    fs::permissions(ws.dir / "app", fs::perms::all);
    const OpenTools tools;
    tools.add(c.tool, "touch built");
    ws.options.env["PATH"] = tools.searchPath();
    // The leak checker of a sanitized build needs a thread of its own at exit, which the limit
    // refuses too.
    ws.options.env["ASAN_OPTIONS"] = "abort_on_error=1:detect_leaks=0";
    // A user of its own: processes that others run as nobody would count against the limit.
    std::vector<std::string> argv{"prlimit",       "--nproc=1:1",    "setpriv",   "--reuid=61999",
                                  "--regid=61999", "--clear-groups", QUARN_BINARY};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const test::RunResult result = test::runProgram(argv, ws.options);
    if (!contains(result.out, test::banner())) {
      GTEST_SKIP() << "cannot start quarn under a process limit here: " << result.err;
    }
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_TRUE(contains(result.out, c.error)) << result.out;
    EXPECT_TRUE(contains(result.out, c.verdict)) << result.out;
    EXPECT_FALSE(fs::exists(ws.dir / "app/built"));
  }
}

// A clean step that fails names what failed, and rebuild then stops before building.
TEST(Faults, AFailedCleanStepStopsBeforeTheBuild) {
  struct Case {
    std::vector<std::string> args;
    std::string marker;
    std::string error;
    std::string verdict;
    int cleanStatus = 3;  // cargo clean's
  };
  const std::string rebuildFailed = "[error] ✗ Rebuild failed while cleaning (";
  const std::string locked =
      "[error] Could not remove 'app/build/locked/file': Permission denied\n";
  const std::string cargo = "[error] 'cargo clean' failed with status 3\n";
  // 130 with no signal anywhere is a failure like any other, not an interruption.
  const std::string cargo130 = "[error] 'cargo clean' failed with status 130\n";
  const Case cases[] = {
      {{"rebuild", "app"}, "Makefile", locked, rebuildFailed},
      {{"clean", "app"}, "Makefile", locked, "[error] ✗ Clean failed ("},
      {{"rebuild", "app"}, "Cargo.toml", cargo, rebuildFailed},
      {{"rebuild", "app"}, "Cargo.toml", cargo130, rebuildFailed, 130},
      {{"clean", "app"}, "Cargo.toml", cargo130, "[error] ✗ Clean failed (", 130},
  };
  for (const Case& c : cases) {
    OpenWorkspace ws;
    ws.dir.write("app/" + c.marker);
    // Everything may go but a file in a folder the unprivileged user cannot change.
    if (c.error == locked) ws.dir.write("app/build/locked/file");
    fs::create_directories(ws.dir / "app/build");
    for (const char* open : {"app", "app/build"}) fs::permissions(ws.dir / open, fs::perms::all);
    const OpenTools tools;
    tools.add("make", "touch built");
    tools.add("cargo",
              "[ \"$1\" = clean ] && exit " + std::to_string(c.cleanStatus) + "; touch built");
    ws.options.env["PATH"] = tools.searchPath();
    bool skipped = false;
    const test::RunResult result = runUnprivileged(c.args, ws.options, skipped);
    if (skipped) GTEST_SKIP() << "cannot run quarn as an unprivileged user here: " << result.err;
    EXPECT_EQ(result.status, 1) << result.out;
    EXPECT_TRUE(contains(result.out, c.error)) << result.out;
    EXPECT_TRUE(contains(result.out, c.verdict)) << result.out;
    EXPECT_FALSE(contains(result.out, "Building with")) << result.out;
    EXPECT_FALSE(fs::exists(ws.dir / "app/built"));
  }
}

TEST(Faults, VersionCommandsThatFloodTheirOutput) {
  Workspace ws;
  ws.dir.write("app/CMakeLists.txt");
  ws.tools.add("cmake", "yes 'cmake version flood'");
  const test::RunResult lines = ws.quarn({"validate", "app"});
  EXPECT_EQ(lines.status, 0);
  EXPECT_TRUE(contains(lines.out, "[info] Version: cmake version flood\n\n")) << lines.out;
  ws.tools.add("cmake", "tr '\\000' v < /dev/zero");
  const test::RunResult noLineFeed = ws.quarn({"validate", "app"});
  EXPECT_EQ(noLineFeed.status, 0);
  EXPECT_TRUE(
      contains(noLineFeed.out, "[info] Version: " + std::string(size_t{64} * 1024, 'v') + "\n\n"));
}

// Relative and empty PATH entries are taken from the project folder, where the build's shell
// takes them, so that validate shows the very program that build runs.
TEST(Faults, SearchPathUnsetEmptyRelativeOrMissing) {
  const TempDir dir;
  dir.write("app/Makefile");
  for (const std::string where : {"app", "app/tools", "tools", "."}) {
    const fs::path make = dir.write(where + "/make", "#!/bin/sh\necho 'make in " + where + "'\n");
    fs::permissions(make, fs::perms::owner_all);
  }
  struct Case {
    std::optional<std::string> path;
    std::string version;  // empty: missing
  };
  const Case cases[] = {
      {std::nullopt, "GNU Make"},  // the system's default path
      {"", "make in app"},         // an empty PATH is the project folder
      {"tools", "make in app/tools"},
      {"/no/such/folder:tools", "make in app/tools"},
      {"/no/such/folder", ""},
  };
  for (const Case& c : cases) {
    if (!c.path && !fs::exists("/usr/bin/make") && !fs::exists("/bin/make")) continue;
    RunOptions options;
    options.cwd = dir.path();
    options.env = {{"PATH", c.path}};
    const test::RunResult result = runQuarn({"validate", "app"}, options);
    if (c.version.empty()) {
      EXPECT_EQ(result.status, 1);
      EXPECT_TRUE(contains(result.out, "[error] ✗ Build tool 'make' is missing")) << result.out;
      continue;
    }
    EXPECT_EQ(result.status, 0) << c.path.value_or("<unset>") << result.out;
    EXPECT_TRUE(contains(result.out, "[info] Version: " + c.version)) << result.out;
    if (!c.path) continue;
    const test::RunResult build = runQuarn({"build", "app"}, options);
    EXPECT_TRUE(contains(build.out, "\n" + c.version + "\n")) << build.out;
  }
}

}  // namespace
}  // namespace quarn
