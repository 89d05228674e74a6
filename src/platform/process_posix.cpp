#include "platform/process.hpp"

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

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

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

// The signals a child gets back at their defaults, whatever quarn was started with. A SIGHUP that
// nohup ignores stays ignored.
sigset_t childDefaults() {
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGQUIT, SIGPIPE}) sigaddset(&defaults, signal);
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
    flags_ |= POSIX_SPAWN_SETPGROUP;
    check([&] { return ::posix_spawnattr_setpgroup(&attributes_, 0); });
  }

  // Starts `argv[0]` with `argv` and `envp`; returns the child's id, or -1 with errorText() set.
  pid_t spawn(const std::vector<std::string>& argv, char** envp) {
    const sigset_t defaults = childDefaults();
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

// The terminal on which quarn is in the foreground: the job is handed the foreground while it runs,
// as a shell hands it to a job, and quarn takes it back afterwards.
class Foreground {
 public:
  Foreground() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
      if (::isatty(fd) == 1 && ::tcgetpgrp(fd) == ::getpgrp()) {
        terminal_ = fd;
        return;
      }
    }
  }
  Foreground(const Foreground&) = delete;
  Foreground& operator=(const Foreground&) = delete;
  ~Foreground() { give(::getpgrp()); }

  bool held() const { return terminal_ >= 0; }

  // Makes `group` the terminal's foreground and lets it go on, should it have stopped to wait for
  // the terminal before it had it.
  void give(pid_t group) const {
    if (terminal_ < 0) return;
    // quarn may be in the background by now, where changing the foreground raises SIGTTOU.
    sigset_t ttou;
    sigset_t saved;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    ::sigprocmask(SIG_BLOCK, &ttou, &saved);
    ::tcsetpgrp(terminal_, group);
    ::sigprocmask(SIG_SETMASK, &saved, nullptr);
    if (group != ::getpgrp()) ::killpg(group, SIGCONT);
  }

 private:
  int terminal_ = -1;
};

// Waits for the job led by `pid`. When the job stops on the terminal (Ctrl-Z), quarn takes the
// terminal back and stops too, so that the shell sees its job stopped; once continued, it hands
// the terminal back and lets the job go on.
int waitForJob(pid_t pid, const Foreground& foreground) {
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid, &status, foreground.held() ? WUNTRACED : 0);
    if (done < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (!WIFSTOPPED(status)) return statusInShellTerms(status);
    foreground.give(::getpgrp());
    ::kill(::getpid(), SIGSTOP);
    foreground.give(pid);
  }
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
  const sigset_t defaults = childDefaults();
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
  const pid_t pid = startProbe(argv, workingDirectory, pipe.write.get(), keepStderr);
  if (pid < 0) return result;
  const ProbeGroupGuard guard(pid);
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
  SpawnSetup setup;
  setup.workingDirectory(workingDirectory);
  setup.ownProcessGroup();
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
  const pid_t pid = setup.spawn({kShell, "-c", command}, childEnvironment.get());
  if (pid < 0) {
    result.startError = setup.errorText();
    return result;
  }
  setJobGroup(pid);
  const Foreground foreground;
  foreground.give(pid);
  if (onStdout) {
    pipe.write.reset();
    char buffer[4096];
    try {
      for (;;) {
        const ssize_t count = ::read(pipe.read.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        onStdout(buffer, static_cast<std::size_t>(count));
      }
    } catch (...) {
      // Closing the pipe ends a child that still writes; it is reaped before the error moves on.
      pipe.read.reset();
      waitForJob(pid, foreground);
      setJobGroup(0);
      throw;
    }
    pipe.read.reset();
  }
  result.status = waitForJob(pid, foreground);
  setJobGroup(0);
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
