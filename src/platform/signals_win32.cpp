#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/signals.hpp"

namespace quarn::platform {

namespace {

// The numbers the POSIX side reports for the same requests: SIGHUP, SIGINT and SIGQUIT.
constexpr int kHangUp = 1;
constexpr int kInterrupt = 2;
constexpr int kQuit = 3;

std::atomic<int> receivedSignal{0};
int scopes = 0;

// Runs on a thread of its own. Ctrl-C and Ctrl-Break reach every program on the console, the
// build included, so there is nothing to pass on. Should Ctrl-C have been ignored when quarn
// started, the system does not call this for it at all.
BOOL WINAPI recordStop(DWORD event) {
  int signal = 0;
  switch (event) {
    case CTRL_C_EVENT: signal = kInterrupt; break;
    case CTRL_BREAK_EVENT: signal = kQuit; break;
    // The system ends quarn once this returns; the build's job ends with it.
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: signal = kHangUp; break;
    default: return FALSE;
  }
  int none = 0;
  receivedSignal.compare_exchange_strong(none, signal);
  return TRUE;
}

}  // namespace

// Children get no inherited handling on Windows that they would not expect.
void resetInheritedSignals() {}

StopSignalScope::StopSignalScope() {
  if (scopes++ == 0) ::SetConsoleCtrlHandler(recordStop, TRUE);
}

StopSignalScope::~StopSignalScope() {
  if (--scopes == 0) ::SetConsoleCtrlHandler(recordStop, FALSE);
}

int stopSignal() { return receivedSignal.load(); }

void endBySignal(int signal) {
  std::fflush(stdout);
  ::ExitProcess(static_cast<UINT>(128 + signal));
}

}  // namespace quarn::platform
