#pragma once

#include <signal.h>
#include <sys/types.h>

#include "platform/system_posix.hpp"

namespace quarn::platform {

// While one lives, inside a StopSignalScope, quarn is waiting for a job: fd() becomes readable
// whenever a stop signal arrives or a child of quarn ends, so that one poll waits for both, and
// once follow() has named the job the stop signals are passed on to it.
class JobWatch {
 public:
  JobWatch();
  JobWatch(const JobWatch&) = delete;
  JobWatch& operator=(const JobWatch&) = delete;
  ~JobWatch();

  // False when the pipe could not be made; errno tells why.
  bool ready() const { return read_.get() >= 0; }
  int fd() const { return read_.get(); }
  // Empties the pipe after a wake-up.
  void drain() const;

  // From now on the stop signals reach the job led by `leader`. In a process group of its own
  // (`group`), each is passed on to the whole group, then SIGCONT, so that a stopped job acts on
  // it. In quarn's own group (`group` 0) the terminal or the sender has sent SIGINT, SIGQUIT and
  // SIGHUP to every process already; SIGTERM, which a supervisor or `kill` sends to quarn alone,
  // is for quarn's wait to pass on (see takeSignal). A signal that came before is passed on now
  // to a group of its own; in quarn's group it is left to quarn's wait as well: the job may have
  // started processes of its own by now, which it must reach too.
  void follow(pid_t leader, pid_t group);

  // The signal that quarn's wait must pass on now to every process of a job in quarn's group, or
  // 0: the first that came before follow(), then each SIGTERM since follow() or the last call.
  int takeSignal();

 private:
  FileDescriptor read_;
  FileDescriptor write_;
  struct sigaction savedChild_ {};
  bool childHandled_ = false;
  sig_atomic_t termsTaken_ = 0;
  int missed_ = 0;
};

}  // namespace quarn::platform
