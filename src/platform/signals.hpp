#pragma once

namespace quarn::platform {

// Puts back the signal handling that quarn's children rely on, whatever quarn's parent left it
// with: a SIGCHLD inherited as ignored would leave no child to wait for.
void resetInheritedSignals();

// While one lives, the signals that ask quarn to stop (SIGINT, SIGQUIT, SIGTERM and SIGHUP; on
// Windows, Ctrl-C, Ctrl-Break and the closing of the console) do not end quarn at once: the first
// is recorded for stopSignal(), and each reaches the running command (see runShellCommand), so
// that quarn can wait for it to end, report and then end as the signal asks. A signal that quarn
// was started with ignored stays ignored.
class StopSignalScope {
 public:
  StopSignalScope();
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;
  ~StopSignalScope();
};

// The signal number that asked quarn to stop while a StopSignalScope lived; 0 when none did.
int stopSignal();

// Ends quarn as `signal` would have: by the signal's default action where the system has one, so
// that a calling shell sees 128 + N and stops its loop, else with exit status 128 + N.
[[noreturn]] void endBySignal(int signal);

}  // namespace quarn::platform
