#include "platform/signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdio>

#include "platform/signals_posix.hpp"

namespace quarn::platform {

namespace {

constexpr std::array<int, 4> kStopSignals{SIGINT, SIGQUIT, SIGTERM, SIGHUP};

volatile sig_atomic_t receivedSignal = 0;
volatile sig_atomic_t jobGroup = 0;
int scopes = 0;
std::array<struct sigaction, kStopSignals.size()> saved{};

extern "C" void recordAndPassOn(int signal) {
  if (receivedSignal == 0) receivedSignal = signal;
  if (jobGroup > 0) ::killpg(jobGroup, signal);
}

}  // namespace

void setJobGroup(pid_t group) {
  jobGroup = group;
  // A signal that came before the job had its group is passed on now.
  if (group > 0 && receivedSignal != 0) ::killpg(group, receivedSignal);
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
  // A signal whose default action does not end the process.
  ::_exit(128 + signal);
}

}  // namespace quarn::platform
