#include "platform/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <thread>
#include <vector>

extern char** environ;

namespace quarn::platform {

const char* const kCleanCommand = "rm -rf build 2>/dev/null";

namespace {

constexpr const char* kShell = "/bin/sh";

// Closes a file descriptor when it goes out of scope.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { reset(); }
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

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

// Owns the spawn attributes and file actions of one child.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawn_file_actions_init(&actions_);
    ::posix_spawnattr_init(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attributes_);
  }

  void workingDirectory(const std::string& directory) {
    if (!directory.empty()) ::posix_spawn_file_actions_addchdir_np(&actions_, directory.c_str());
  }
  void stdoutTo(int fd) { ::posix_spawn_file_actions_adddup2(&actions_, fd, STDOUT_FILENO); }
  void stdinFromNull() {
    ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  }
  void ownProcessGroup() {
    flags_ |= POSIX_SPAWN_SETPGROUP;
    ::posix_spawnattr_setpgroup(&attributes_, 0);
  }

  // Starts `/bin/sh -c command`; returns the child's id, or -1.
  pid_t spawn(const std::string& command) {
    // The child starts with default signal handling and an empty mask, whatever quarn ignores.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGQUIT);
    sigaddset(&defaults, SIGPIPE);
    sigset_t empty;
    sigemptyset(&empty);
    ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
    ::posix_spawnattr_setsigmask(&attributes_, &empty);
    ::posix_spawnattr_setflags(
        &attributes_, static_cast<short>(flags_ | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK));
    char shell[] = "sh";
    char dashC[] = "-c";
    std::vector<char> text(command.begin(), command.end());
    text.push_back('\0');
    char* argv[] = {shell, dashC, text.data(), nullptr};
    pid_t pid = -1;
    if (::posix_spawn(&pid, kShell, &actions_, &attributes_, argv, environ) != 0) return -1;
    return pid;
  }

 private:
  posix_spawn_file_actions_t actions_{};
  posix_spawnattr_t attributes_{};
  int flags_ = 0;
};

// Waits for the child and returns its status in shell terms.
int waitForExit(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Ignores SIGINT and SIGQUIT for its lifetime, as system() does while its child runs.
class InterruptsIgnored {
 public:
  InterruptsIgnored() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGINT, &ignore, &savedInt_);
    ::sigaction(SIGQUIT, &ignore, &savedQuit_);
  }
  InterruptsIgnored(const InterruptsIgnored&) = delete;
  InterruptsIgnored& operator=(const InterruptsIgnored&) = delete;
  ~InterruptsIgnored() {
    ::sigaction(SIGINT, &savedInt_, nullptr);
    ::sigaction(SIGQUIT, &savedQuit_, nullptr);
  }

 private:
  struct sigaction savedInt_ {};
  struct sigaction savedQuit_ {};
};

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

}  // namespace

int runShellCommand(const std::string& command, const std::string& workingDirectory,
                    const ByteSink& onStdout) {
  // Whatever quarn has buffered must reach the terminal before the child writes to it.
  std::fflush(stdout);
  SpawnSetup setup;
  setup.workingDirectory(workingDirectory);
  Pipe pipe;
  if (onStdout) {
    if (!pipe.open()) return -1;
    setup.stdoutTo(pipe.write.get());
  }
  InterruptsIgnored ignored;
  const pid_t pid = setup.spawn(command);
  if (pid < 0) return -1;
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
      waitForExit(pid);
      throw;
    }
    pipe.read.reset();
  }
  return waitForExit(pid);
}

CapturedOutput captureShellOutput(const std::string& command, std::chrono::milliseconds timeout,
                                  std::size_t readSize, const EnoughOutput& enough) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + timeout;
  CapturedOutput result;
  std::fflush(stdout);
  SpawnSetup setup;
  Pipe pipe;
  if (!pipe.open()) return result;
  setup.stdoutTo(pipe.write.get());
  setup.stdinFromNull();
  setup.ownProcessGroup();
  const pid_t pid = setup.spawn(command);
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
  return result;
}

}  // namespace quarn::platform
