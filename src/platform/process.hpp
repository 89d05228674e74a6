#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quarn::platform {

// Variables set in a child's environment on top of quarn's own.
using EnvironmentOverrides = std::vector<std::pair<std::string, std::string>>;

// Receives the bytes of a child's standard output as they are read.
using ByteSink = std::function<void(const char* data, std::size_t size)>;

struct ProcessStatus {
  // 0 when the command succeeded, its exit code when it exited with another, 128 + N when signal
  // N ended it, and -1 when it could not be started.
  int status = -1;
  std::string startError;  // why it could not be started, when status is -1
  std::string warning;     // what the caller should say of how it ended (killed after a signal)
};

// Runs `command` through the platform's command processor in `workingDirectory` (empty: quarn's
// own), with `environment` added to quarn's, and waits for it to end. Standard input and error are
// quarn's. With an empty sink, standard output is inherited too; otherwise it is piped to the sink.
// The signals that ask quarn to stop are recorded (see stopSignal) and reach the command. On
// POSIX, on a terminal (one of quarn's standard streams is its controlling terminal) the command
// is part of quarn's job, as make's commands are: Ctrl-C, Ctrl-Z, fg, bg and the terminal's stop
// of a background reader reach both. Elsewhere it runs in a process group of its own, to which
// quarn passes on the signals it receives. The command's own end ends the wait;
// after a stop signal every process of it must have ended too, and what still runs 10 seconds
// after the signal is killed, with a warning.
ProcessStatus runShellCommand(const std::string& command, const std::string& workingDirectory,
                              const ByteSink& onStdout,
                              const EnvironmentOverrides& environment = {});

// Returns `argument` quoted for the platform's command processor, so that a program started by it
// receives the text as one argument, whatever it holds. Plain words come back unchanged.
std::string quoteArgument(std::string_view argument);

struct CapturedOutput {
  bool completed = false;  // false when the command could not start or was killed at the deadline
  int status = -1;         // its exit status when it ended by itself, in shell terms
  std::string output;
};

// Says, given the output so far, whether it holds all the caller wants.
using EnoughOutput = std::function<bool(const std::string& output)>;

// Runs the simple command `command` (a program and its arguments, as the command processor reads
// them) with standard input from the null device, in `workingDirectory`, away from the terminal,
// collecting its standard output in reads of at most `readSize` bytes. Reading stops early once
// `enough` says so; the command is then ended with everything it started, as is a command still
// running after `timeout`. Should quarn be ended meanwhile, the command is ended with it.
CapturedOutput captureShellOutput(const std::string& command, const std::string& workingDirectory,
                                  std::chrono::milliseconds timeout, std::size_t readSize,
                                  const EnoughOutput& enough);

// As captureShellOutput, for the program at `argv[0]` (a path) with the arguments that follow,
// started directly, without a command processor. Its standard error is discarded.
CapturedOutput captureProgramOutput(const std::vector<std::string>& argv,
                                    const std::string& workingDirectory,
                                    std::chrono::milliseconds timeout);

}  // namespace quarn::platform
