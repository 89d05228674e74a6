#include "platform/process.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>

#include "platform/signals.hpp"
#include "platform/signals_posix.hpp"
#include "platform/system_posix.hpp"

extern char** environ;

namespace quarn::platform {

namespace {

constexpr const char* kShell = "/bin/sh";

struct Pipe {
  FileDescriptor read;
  FileDescriptor write;
  bool open() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    read.reset(fds[0]);
    write.reset(fds[1]);
    // Neither end may leak into a child; the write end reaches one only as its standard output.
    return ::fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 && ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
  }
};

// quarn's environment with `overrides` set on top, as the NUL-terminated list a child takes.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const EnvironmentOverrides& overrides) {
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      const char* equals = std::strchr(*entry, '=');
      const size_t nameLength = equals != nullptr ? size_t(equals - *entry) : std::strlen(*entry);
      bool replaced = false;
      for (const auto& [name, value] : overrides) {
        replaced = replaced || (name.size() == nameLength &&
                                name.compare(0, nameLength, *entry, nameLength) == 0);
      }
      if (!replaced) pointers_.push_back(*entry);
    }
    for (const auto& [name, value] : overrides) {
      std::string entry = name;
      entry += '=';
      entry += value;
      owned_.push_back(std::move(entry));
    }
    for (std::string& entry : owned_) pointers_.push_back(entry.data());
    pointers_.push_back(nullptr);
  }
  char** get() { return pointers_.data(); }

 private:
  std::vector<std::string> owned_;
  std::vector<char*> pointers_;
};

// The signals a child gets back at their defaults, whatever quarn was started with. Away from the
// terminal, in a group of its own, the child takes Ctrl-C's and Ctrl-\'s signals only from quarn,
// which passes on those it records. In quarn's group the terminal sends them straight to the child,
// which keeps them as quarn got them, as any command of a job does: a script's `quarn build &`
// runs with them ignored and must not end by the Ctrl-C meant for the script's foreground. A
// SIGHUP that nohup ignores stays ignored.
sigset_t childDefaults(bool ownGroup) {
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  if (ownGroup) {
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
  }
  return defaults;
}

// Owns the spawn attributes and file actions of one child. Every set-up call is checked; the
// first that fails is the reason the child cannot start.
class SpawnSetup {
 public:
  SpawnSetup() {
    // Each object is destroyed only when its own initialisation worked.
    check([this] { return ::posix_spawn_file_actions_init(&actions_); });
    actionsReady_ = error_ == 0;
    check([this] { return ::posix_spawnattr_init(&attributes_); });
    attributesReady_ = error_ == 0;
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    if (actionsReady_) ::posix_spawn_file_actions_destroy(&actions_);
    if (attributesReady_) ::posix_spawnattr_destroy(&attributes_);
  }

  void workingDirectory(const std::string& directory) {
    if (directory.empty()) return;
    check([&] { return ::posix_spawn_file_actions_addchdir_np(&actions_, directory.c_str()); });
  }
  void stdoutTo(int fd) {
    check([&] { return ::posix_spawn_file_actions_adddup2(&actions_, fd, STDOUT_FILENO); });
  }
  void stdinFromNull() {
    check([&] {
      return ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    });
  }
  void stderrToNull() {
    check([&] {
      return ::posix_spawn_file_actions_addopen(&actions_, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    });
  }
  void ownProcessGroup() {
    ownGroup_ = true;
    flags_ |= POSIX_SPAWN_SETPGROUP;
    check([&] { return ::posix_spawnattr_setpgroup(&attributes_, 0); });
  }

  // Starts `argv[0]` with `argv` and `envp`; returns the child's id, or -1 with errorText() set.
  pid_t spawn(const std::vector<std::string>& argv, char** envp) {
    const sigset_t defaults = childDefaults(ownGroup_);
    sigset_t empty;
    sigemptyset(&empty);
    check([&] { return ::posix_spawnattr_setsigdefault(&attributes_, &defaults); });
    check([&] { return ::posix_spawnattr_setsigmask(&attributes_, &empty); });
    check([&] {
      return ::posix_spawnattr_setflags(
          &attributes_,
          static_cast<short>(flags_ | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
    });
    if (error_ != 0) return -1;
    std::vector<std::vector<char>> texts;
    std::vector<char*> args;
    texts.reserve(argv.size());
    for (const std::string& arg : argv) {
      texts.emplace_back(arg.begin(), arg.end());
      texts.back().push_back('\0');
      args.push_back(texts.back().data());
    }
    args.push_back(nullptr);
    pid_t pid = -1;
    check([&] {
      return ::posix_spawn(&pid, argv.at(0).c_str(), &actions_, &attributes_, args.data(), envp);
    });
    return error_ == 0 ? pid : -1;
  }

  std::string errorText() const { return std::strerror(error_); }

 private:
  // Makes the set-up call `call` unless an earlier one failed, and keeps the first failure: a call
  // on an object whose set-up failed would be undefined.
  template <typename Call>
  void check(Call call) {
    if (error_ == 0) error_ = call();
  }

  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  bool actionsReady_ = false;
  bool attributesReady_ = false;
  int flags_ = 0;
  int error_ = 0;
  bool ownGroup_ = false;
};

int statusInShellTerms(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Waits for the child and returns its status in shell terms.
int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return statusInShellTerms(status);
}

// Whether one of quarn's standard streams is its controlling terminal. quarn is then a job of the
// shell on that terminal, or part of one, and the build is made part of the same job.
bool onControllingTerminal() {
  for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::isatty(fd) == 1 && ::tcgetsid(fd) != -1) return true;
  }
  return false;
}

// How long a job has to end after a stop signal before it is killed.
constexpr std::chrono::seconds kStopGrace{10};
// How long killed processes may take to go; one that does not (stuck in the kernel, or another
// user's) is given up on rather than waited for without end.
constexpr std::chrono::seconds kKillGrace{5};
// How often a job that was asked to stop is looked at: a member that is not quarn's child ends
// without a word to quarn.
constexpr std::chrono::milliseconds kStopPoll{20};

const char* signalName(int signal) {
  switch (signal) {
    case SIGINT: return "SIGINT";
    case SIGQUIT: return "SIGQUIT";
    case SIGHUP: return "SIGHUP";
    default: return "SIGTERM";
  }
}

// While the build runs, quarn adopts on Linux what the build leaves orphaned, as process 1 of a
// container does in any case: it reaps those processes, so that a group whose last members have
// ended does not linger as zombies nobody waits for, and it can tell which of them still run.
class Adoption {
 public:
  Adoption() {
#if defined(__linux__)
    int already = 0;
    if (::prctl(PR_GET_CHILD_SUBREAPER, &already) == 0) {
      set_ = already == 0 && ::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0;
      adopting_ = already != 0 || set_;
    }
#endif
    adopting_ = adopting_ || ::getpid() == 1;
  }
  Adoption(const Adoption&) = delete;
  Adoption& operator=(const Adoption&) = delete;
  ~Adoption() {
#if defined(__linux__)
    if (set_) ::prctl(PR_SET_CHILD_SUBREAPER, 0);
#endif
  }
  bool adopting() const { return adopting_; }

 private:
  bool adopting_ = false;
  [[maybe_unused]] bool set_ = false;
};

#if defined(__linux__)
// The processes descended from quarn that are in quarn's own process group and still run, as
// /proc lists them: with orphans adopted, the build's processes when it shares quarn's group.
std::vector<pid_t> descendantsInOurGroup() {
  struct Entry {
    pid_t pid;
    pid_t parent;
    bool inGroup;  // and still running
  };
  std::vector<Entry> entries;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return {};
  const pid_t group = ::getpgrp();
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (end == entry->d_name || *end != '\0') continue;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const FileDescriptor stat(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (stat.get() < 0) continue;
    char text[512];
    const ssize_t size = ::read(stat.get(), text, sizeof text - 1);
    if (size <= 0) continue;
    text[size] = '\0';
    // The command name, in parentheses, may hold anything; the fields after it are plain.
    const char* fields = std::strrchr(text, ')');
    char state = 0;
    long parent = 0;
    long processGroup = 0;
    if (fields == nullptr ||
        std::sscanf(fields + 1, " %c %ld %ld", &state, &parent, &processGroup) != 3) {
      continue;
    }
    // An ended process still links those read before it went, whose parent it was then.
    const bool ended = state == 'Z' || state == 'X';
    entries.push_back(
        {static_cast<pid_t>(pid), static_cast<pid_t>(parent), processGroup == group && !ended});
  }
  ::closedir(proc);
  // Breadth first from quarn; a process outside the group still leads to those inside it.
  std::vector<pid_t> descendants{::getpid()};
  std::vector<pid_t> found;
  for (size_t next = 0; next < descendants.size(); ++next) {
    for (const Entry& entry : entries) {
      if (entry.parent != descendants[next]) continue;
      descendants.push_back(entry.pid);
      if (entry.inGroup) found.push_back(entry.pid);
    }
  }
  return found;
}
#endif

// The processes of a build, as quarn waits for them: the leader, the shell quarn started, and
// with it, in a group of its own, every member of that group; in quarn's group, on Linux, every
// process descended from quarn (the leader and what quarn adopted, with theirs) in that group.
class Job {
 public:
  Job(pid_t leader, bool ownGroup, bool adopting)
      : leader_(leader), ownGroup_(ownGroup), adopting_(adopting) {}

  // Reaps whatever has ended: the leader, and the orphans quarn adopted.
  void reap() {
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(adopting_ ? -1 : leader_, &status, WNOHANG);
      if (done < 0 && errno == EINTR) continue;
      if (done == leader_) {
        status_ = statusInShellTerms(status);
        leaderEnded_ = true;
      }
      if (done > 0 && adopting_) continue;
      // No child left to wait for: the leader has gone, though not by quarn's hand.
      if (done < 0) leaderEnded_ = true;
      return;
    }
  }

  bool leaderEnded() const { return leaderEnded_; }
  int status() const { return status_; }

  // Whether any process of the job still runs; a group is looked at once its leader is reaped.
  bool running() const {
    if (!leaderEnded_) return true;
    if (ownGroup_) return ::kill(-leader_, 0) == 0 || errno == EPERM;
#if defined(__linux__)
    if (adopting_) return !descendantsInOurGroup().empty();
#endif
    return false;
  }

  // Sends `signal` to every process of the job.
  void signal(int signal) const {
    if (ownGroup_) {
      ::killpg(leader_, signal);
      return;
    }
    if (!leaderEnded_) ::kill(leader_, signal);
#if defined(__linux__)
    if (adopting_) {
      for (const pid_t pid : descendantsInOurGroup()) {
        if (pid != leader_) ::kill(pid, signal);
      }
    }
#endif
  }

 private:
  pid_t leader_;
  bool ownGroup_;
  bool adopting_;
  bool leaderEnded_ = false;
  int status_ = -1;
};

// Passes what the pipe holds to the sink, a read at a time, and closes the pipe at its end. A sink
// that throws closes it too, so that a child that still writes ends by SIGPIPE; the error waits
// until the job has ended.
class OutputReader {
 public:
  OutputReader(FileDescriptor& pipe, const ByteSink& sink) : pipe_(pipe), sink_(sink) {}

  bool open() const { return pipe_.get() >= 0; }
  int fd() const { return pipe_.get(); }

  void readOnce() {
    const ssize_t count = ::read(pipe_.get(), buffer_.data(), buffer_.size());
    if (count < 0 && errno == EINTR) return;
    if (count <= 0) {
      pipe_.reset();
      return;
    }
    try {
      sink_(buffer_.data(), static_cast<std::size_t>(count));
    } catch (...) {
      failure_ = std::current_exception();
      pipe_.reset();
    }
  }

  // Passes on what is left in the pipe without waiting for more.
  void drain() {
    for (;;) {
      if (!open()) return;
      pollfd readable{pipe_.get(), POLLIN, 0};
      const int ready = ::poll(&readable, 1, 0);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return;
      readOnce();
    }
  }

  void rethrow() const {
    if (failure_) std::rethrow_exception(failure_);
  }

 private:
  FileDescriptor& pipe_;
  const ByteSink& sink_;
  std::array<char, 65536> buffer_{};
  std::exception_ptr failure_;
};

// Waits until the job has ended, passing its output on meanwhile, and returns the leader's status
// in shell terms. Without a stop signal the leader's end is the build's end: what it leaves
// running is its own business (a compiler server, a build daemon) and is neither waited for nor
// ended, as with make or a shell. After a stop signal every process of the job must end before
// quarn reports; one that has not within kStopGrace is killed.
int waitForJob(Job& job, JobWatch& watch, OutputReader& output, const std::string& command,
               std::string& warning) {
  using Clock = std::chrono::steady_clock;
  bool stopping = false;
  bool killed = false;
  Clock::time_point deadline{};
  for (;;) {
    job.reap();
    // A SIGTERM to quarn alone reaches a build in quarn's group from here: the handler cannot
    // tell the build's processes from the others of the group.
    if (const int signal = watch.takeSignal(); signal != 0) job.signal(signal);
    if (!stopping && stopSignal() != 0) {
      stopping = true;
      deadline = Clock::now() + kStopGrace;
    }
    if (stopping ? !job.running() : job.leaderEnded() && !output.open()) break;
    const Clock::time_point now = Clock::now();
    if (stopping && now >= deadline) {
      if (killed) break;
      warning = fmt::format("'{}' did not stop within {} seconds of {}; killing it", command,
                            kStopGrace.count(), signalName(stopSignal()));
      killed = true;
      deadline = now + kKillGrace;
    }
    // Their orphans come to quarn as they go, and go in the next round.
    if (killed) job.signal(SIGKILL);
    int timeout = -1;
    if (stopping) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
      timeout = static_cast<int>(std::max<std::int64_t>(0, std::min(left, kStopPoll).count()));
    }
    pollfd events[2] = {{watch.fd(), POLLIN, 0}, {output.fd(), POLLIN, 0}};
    const int ready = ::poll(events, output.open() ? 2 : 1, timeout);
    if (ready < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(kStopPoll);
      continue;
    }
    if (events[0].revents != 0) watch.drain();
    if (output.open() && events[1].revents != 0) output.readOnce();
  }
  output.drain();
  return job.status();
}

// The process group of the version command that is running, for the signal handler below.
volatile sig_atomic_t probeGroup = 0;

// Ends the running probe's whole group, then lets the signal end quarn as it would have.
extern "C" void endProbeAndDie(int signal) {
  if (probeGroup > 0) ::killpg(probeGroup, SIGKILL);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

// A probe runs in a group of its own, out of reach of the terminal's Ctrl-C; while it lives, the
// signals that end quarn end the probe as well, so that none is left running behind.
class ProbeGroupGuard {
 public:
  explicit ProbeGroupGuard(pid_t group) {
    probeGroup = group;
    for (size_t i = 0; i < kSignals.size(); ++i) {
      struct sigaction handler {};
      handler.sa_handler = endProbeAndDie;
      sigemptyset(&handler.sa_mask);
      ::sigaction(kSignals[i], nullptr, &saved_[i]);
      // A signal that quarn was started ignoring stays ignored.
      if (saved_[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &handler, nullptr);
    }
  }
  ProbeGroupGuard(const ProbeGroupGuard&) = delete;
  ProbeGroupGuard& operator=(const ProbeGroupGuard&) = delete;
  ~ProbeGroupGuard() {
    for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &saved_[i], nullptr);
    probeGroup = 0;
  }

 private:
  static constexpr std::array<int, 4> kSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};
  std::array<struct sigaction, kSignals.size()> saved_{};
};

// Starts a probe: `argv` in a process group of its own, standard input from the null device,
// standard output to `output`, standard error to it too or to the null device. On Linux the
// kernel ends the probe should quarn die before it (even by SIGKILL). Returns -1 on failure.
pid_t startProbe(const std::vector<std::string>& argv, const std::string& workingDirectory,
                 int output, bool keepStderr) {
#if defined(__linux__)
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) {
    if (pid > 0) ::setpgid(pid, pid);  // also here, so the group exists before it is signalled
    return pid;
  }
  // Only async-signal-safe calls from here on.
  if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
  ::setpgid(0, 0);
  const sigset_t defaults = childDefaults(true);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (sigismember(&defaults, signal) == 1) ::signal(signal, SIG_DFL);
  }
  sigset_t empty;
  sigemptyset(&empty);
  ::sigprocmask(SIG_SETMASK, &empty, nullptr);
  const int null = ::open("/dev/null", O_RDWR);
  if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
      ::dup2(keepStderr ? output : null, STDERR_FILENO) < 0) {
    ::_exit(127);
  }
  if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) ::_exit(127);
  ::execve(args[0], args.data(), environ);
  ::_exit(127);
#else
  SpawnSetup setup;
  setup.workingDirectory(workingDirectory);
  setup.stdoutTo(output);
  setup.stdinFromNull();
  if (!keepStderr) setup.stderrToNull();
  setup.ownProcessGroup();
  return setup.spawn(argv, environ);
#endif
}

CapturedOutput captureOutput(const std::vector<std::string>& argv,
                             const std::string& workingDirectory, bool keepStderr,
                             std::chrono::milliseconds timeout, std::size_t readSize,
                             const EnoughOutput& enough) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  CapturedOutput result;
  std::fflush(stdout);
  Pipe pipe;
  if (!pipe.open()) return result;
  // The signals that end quarn wait until the guard is in place: one that came between would end
  // quarn and leave what the probe started running.
  sigset_t stops;
  sigset_t saved;
  sigemptyset(&stops);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&stops, signal);
  ::sigprocmask(SIG_BLOCK, &stops, &saved);
  const pid_t pid = startProbe(argv, workingDirectory, pipe.write.get(), keepStderr);
  std::optional<ProbeGroupGuard> guard;
  if (pid > 0) guard.emplace(pid);
  ::sigprocmask(SIG_SETMASK, &saved, nullptr);
  if (pid < 0) return result;
  pipe.write.reset();

  auto remainingMs = [&]() {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
  };
  bool timedOut = false;
  bool stopped = false;
  std::vector<char> buffer(readSize > 0 ? readSize : 1);
  for (;;) {
    pollfd readable{pipe.read.get(), POLLIN, 0};
    const int ready = ::poll(&readable, 1, remainingMs());
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      timedOut = true;
      break;
    }
    const ssize_t count = ::read(pipe.read.get(), buffer.data(), buffer.size());
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;
    result.output.append(buffer.data(), static_cast<std::size_t>(count));
    if (enough && enough(result.output)) {
      stopped = true;
      break;
    }
  }
  pipe.read.reset();
  if (stopped) {
    // The caller has what it needs; whatever the command would still print is of no use.
    ::killpg(pid, SIGKILL);
    waitForExit(pid);
    result.completed = true;
    return result;
  }

  // The output has ended; the command may still be running with its output closed.
  int status = 0;
  while (!timedOut) {
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) break;
    if (done == 0) {
      if (remainingMs() == 0) {
        timedOut = true;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  if (timedOut) {
    ::killpg(pid, SIGKILL);
    waitForExit(pid);
    return result;
  }
  result.completed = true;
  result.status = statusInShellTerms(status);
  return result;
}

}  // namespace

ProcessStatus runShellCommand(const std::string& command, const std::string& workingDirectory,
                              const ByteSink& onStdout, const EnvironmentOverrides& environment) {
  ProcessStatus result;
  // Whatever quarn has buffered must reach the terminal before the child writes to it.
  std::fflush(stdout);
  // On a terminal the build stays in quarn's process group, one job with quarn, as make's
  // commands are: the terminal's Ctrl-C and Ctrl-Z, its stop of a background job that reads it
  // and the shell's fg and bg reach quarn and the build alike. Elsewhere the build gets a group of
  // its own, so that a signal that quarn alone receives (from a supervisor, timeout, a container
  // stop) reaches every process of it.
  const bool ownGroup = !onControllingTerminal();
  SpawnSetup setup;
  setup.workingDirectory(workingDirectory);
  if (ownGroup) setup.ownProcessGroup();
  Pipe pipe;
  if (onStdout) {
    if (!pipe.open()) {
      result.startError = std::strerror(errno);
      return result;
    }
    setup.stdoutTo(pipe.write.get());
  }
  ChildEnvironment childEnvironment(environment);
  const StopSignalScope stopSignals;
  JobWatch watch;
  if (!watch.ready()) {
    result.startError = std::strerror(errno);
    return result;
  }
  const Adoption adoption;
  const pid_t pid = setup.spawn({kShell, "-c", command}, childEnvironment.get());
  if (pid < 0) {
    result.startError = setup.errorText();
    return result;
  }
  watch.follow(pid, ownGroup ? pid : 0);
  pipe.write.reset();
  Job job(pid, ownGroup, adoption.adopting());
  OutputReader output(pipe.read, onStdout);
  result.status = waitForJob(job, watch, output, command, result.warning);
  output.rethrow();
  return result;
}

std::string quoteArgument(std::string_view argument) {
  const bool plain =
      !argument.empty() && argument.find_first_not_of(
                               "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRS"
                               "TUVWXYZ0123456789-_=+./,:@%") == std::string_view::npos;
  if (plain) return std::string(argument);
  // Inside single quotes the shell takes every byte as it is; a quote itself is closed, escaped
  // and reopened.
  std::string quoted = "'";
  for (const char c : argument) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

CapturedOutput captureShellOutput(const std::string& command, const std::string& workingDirectory,
                                  std::chrono::milliseconds timeout, std::size_t readSize,
                                  const EnoughOutput& enough) {
  // With exec the command replaces the shell, so that the kernel's end-with-quarn reaches it.
  return captureOutput({kShell, "-c", "exec " + command + " 2>&1"}, workingDirectory, true, timeout,
                       readSize, enough);
}

CapturedOutput captureProgramOutput(const std::vector<std::string>& argv,
                                    const std::string& workingDirectory,
                                    std::chrono::milliseconds timeout) {
  return captureOutput(argv, workingDirectory, false, timeout, 4096, {});
}

}  // namespace quarn::platform
