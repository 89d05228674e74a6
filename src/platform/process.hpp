#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace quarn::platform {

// The command line that removes the folder "build" in its working directory: silently,
// recursively and without asking. A "build" that is a link is removed as a link, never followed.
extern const char* const kCleanCommand;

// Receives the bytes of a child's standard output as they are read.
using ByteSink = std::function<void(const char* data, std::size_t size)>;

// Runs `command` through the platform's command processor with `workingDirectory` as its working
// directory (empty: quarn's own) and waits for it to end. Standard input and error are quarn's.
// With an empty sink, standard output is inherited as well; otherwise it is piped and handed to the
// sink. While the child runs, quarn ignores the terminal's interrupt and quit keys, so they end the
// child and quarn lives to report it. Returns 0 when the command succeeded, its exit code when it
// exited with another, 128 + N when signal N ended it, and -1 when the command processor could not
// be started (the working directory cannot be entered, for one).
int runShellCommand(const std::string& command, const std::string& workingDirectory,
                    const ByteSink& onStdout);

struct CapturedOutput {
  bool completed = false;  // false when the command could not start or was killed at the deadline
  std::string output;
};

// Says, given the output so far, whether it holds all the caller wants.
using EnoughOutput = std::function<bool(const std::string& output)>;

// Runs `command` through the command processor with standard input from the null device and in a
// process group of its own, collecting its standard output to the end in reads of at most
// `readSize` bytes. Reading stops early once `enough` says so; the command is then ended with
// everything it started, as is a command still running after `timeout`.
CapturedOutput captureShellOutput(const std::string& command, std::chrono::milliseconds timeout,
                                  std::size_t readSize, const EnoughOutput& enough);

}  // namespace quarn::platform
