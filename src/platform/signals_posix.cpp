#include "platform/signals.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "platform/signals_posix.hpp"

namespace quarn::platform {

namespace {

constexpr std::array<int, 4> kStopSignals{SIGINT, SIGQUIT, SIGTERM, SIGHUP};

volatile sig_atomic_t receivedSignal = 0;
volatile sig_atomic_t termsReceived = 0;
volatile sig_atomic_t jobLeader = 0;
volatile sig_atomic_t jobGroup = 0;
volatile sig_atomic_t wakeFd = -1;
int scopes = 0;
std::array<struct sigaction, kStopSignals.size()> saved{};

void wake() {
  if (wakeFd < 0) return;
  const char byte = 0;
  // A pipe too full to take the byte is readable already.
  if (::write(wakeFd, &byte, 1) < 0) return;
}

// Passes `signal` on to a job in a group of its own; a job in quarn's group is reached from
// quarn's wait (see JobWatch::takeSignal).
void passOn(int signal) {
  if (jobGroup <= 0) return;
  ::killpg(jobGroup, signal);
  ::killpg(jobGroup, SIGCONT);
}

extern "C" void recordAndPassOn(int signal) {
  const int savedErrno = errno;
  if (receivedSignal == 0) receivedSignal = signal;
  if (signal == SIGTERM) termsReceived = termsReceived + 1;
  passOn(signal);
  wake();
  errno = savedErrno;
}

extern "C" void childEnded(int) {
  const int savedErrno = errno;
  wake();
  errno = savedErrno;
}

sigset_t stopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : kStopSignals) sigaddset(&set, signal);
  return set;
}

}  // namespace

JobWatch::JobWatch() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  read_.reset(fds[0]);
  write_.reset(fds[1]);
  for (int fd : fds) {
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0 || ::fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
      read_.reset();
      write_.reset();
      return;
    }
  }
  struct sigaction handler {};
  handler.sa_handler = childEnded;
  // Only ends matter; a child stopped on the terminal stops quarn's whole job with it.
  handler.sa_flags = SA_RESTART | SA_NOCLDSTOP;
  sigemptyset(&handler.sa_mask);
  childHandled_ = ::sigaction(SIGCHLD, &handler, &savedChild_) == 0;
  if (!childHandled_) {
    read_.reset();
    write_.reset();
    return;
  }
  wakeFd = write_.get();
}

JobWatch::~JobWatch() {
  const sigset_t stops = stopSignalSet();
  sigset_t savedMask;
  ::sigprocmask(SIG_BLOCK, &stops, &savedMask);
  jobLeader = 0;
  jobGroup = 0;
  wakeFd = -1;
  ::sigprocmask(SIG_SETMASK, &savedMask, nullptr);
  if (childHandled_) ::sigaction(SIGCHLD, &savedChild_, nullptr);
}

void JobWatch::drain() const {
  char buffer[64];
  while (::read(read_.get(), buffer, sizeof buffer) > 0) {
  }
}

void JobWatch::follow(pid_t leader, pid_t group) {
  // Blocked meanwhile, so that a signal is passed on once: by the handler or here.
  const sigset_t stops = stopSignalSet();
  sigset_t savedMask;
  ::sigprocmask(SIG_BLOCK, &stops, &savedMask);
  jobLeader = leader;
  jobGroup = group;
  termsTaken_ = termsReceived;
  if (receivedSignal != 0 && group > 0) {
    passOn(receivedSignal);
  } else if (receivedSignal != 0 && leader > 0) {
    // It reached quarn's group before the leader was in it, or it was a SIGTERM to quarn alone;
    // quarn may have got here only after the leader had started others.
    missed_ = receivedSignal;
  }
  ::sigprocmask(SIG_SETMASK, &savedMask, nullptr);
}

int JobWatch::takeSignal() {
  if (jobGroup > 0 || jobLeader <= 0) return 0;
  if (missed_ != 0) {
    const int signal = missed_;
    missed_ = 0;
    return signal;
  }
  if (termsTaken_ == termsReceived) return 0;
  termsTaken_ = termsReceived;
  return SIGTERM;
}

void resetInheritedSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGCHLD, &action, nullptr);
}

StopSignalScope::StopSignalScope() {
  if (scopes++ > 0) return;
  struct sigaction handler {};
  handler.sa_handler = recordAndPassOn;
  handler.sa_flags = SA_RESTART;
  sigemptyset(&handler.sa_mask);
  for (size_t i = 0; i < kStopSignals.size(); ++i) {
    ::sigaction(kStopSignals[i], nullptr, &saved[i]);
    if (saved[i].sa_handler != SIG_IGN) ::sigaction(kStopSignals[i], &handler, nullptr);
  }
}

StopSignalScope::~StopSignalScope() {
  if (--scopes > 0) return;
  for (size_t i = 0; i < kStopSignals.size(); ++i) ::sigaction(kStopSignals[i], &saved[i], nullptr);
}

int stopSignal() { return receivedSignal; }

void endBySignal(int signal) {
  std::fflush(stdout);
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  ::sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(signal);
  // A signal whose default action does not end the process, or process 1, which no signal of
  // its own ends.
  ::_exit(128 + signal);
}

}  // namespace quarn::platform
