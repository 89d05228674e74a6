#include "cli/app.hpp"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "base/exit_status.hpp"
#include "base/logger.hpp"
#include "cli/command_line.hpp"
#include "cli/data_directory.hpp"
#include "commands/commands.hpp"
#include "platform/signals.hpp"
#include "project/settings_file.hpp"
#include "quarn/version.hpp"

namespace quarn::cli {

void printBanner() {
  fmt::print("      Quarn - Universal Build System    \n");
  fmt::print("             v" QUARN_VERSION "                     \n");
}

void printUsage() {
  fmt::print("  Usage:\n");
  fmt::print("    quarn build [path]      Detect and build project\n");
  fmt::print("    quarn rebuild [path]    Clean and rebuild\n");
  fmt::print("    quarn clean [path]      Remove build artifacts\n");
  fmt::print("    quarn detect [path]     Show detected project type\n");
  fmt::print("    quarn validate [path]   Check required build tools\n");
  fmt::print("    quarn info [path]       Show project information\n");
  fmt::print("    quarn help              Show this help\n\n");
}

namespace {

using Handler = int (*)(const CommandOptions&);

// Returns the handler of a command word, or null for help and unknown words.
Handler findHandler(const std::string& command) {
  if (command == "build") return cmdBuild;
  if (command == "rebuild") return cmdRebuild;
  if (command == "clean") return cmdClean;
  if (command == "detect") return cmdDetect;
  if (command == "validate") return cmdValidate;
  if (command == "info") return cmdInfo;
  return nullptr;
}

int dispatch(const CommandLine& line) {
  const auto logger = Logger::get();
  const std::string& command = line.command;
  const bool helpWord = command == "help" || command == "--help" || command == "-h";
  const Handler handler = findHandler(command);
  // A line that cannot be used is shown as such whatever -q, --json or -h also say.
  if (!helpWord && (handler == nullptr || !line.error.empty())) {
    printBanner();
    logger->error(handler == nullptr ? fmt::format("Unknown command: {}", command) : line.error);
    printUsage();
    return kExitUsage;
  }
  if (!line.quiet && !line.options.json) printBanner();
  if (helpWord || line.help) {
    printUsage();
    return kExitSuccess;
  }
  return handler(line.options);
}

// Flushes standard output and reports a write that failed (a full disk, a closed reader that
// did not end quarn with SIGPIPE) on standard error. Returns whether all output was written.
bool flushStandardOutput() {
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return true;
  std::fputs("quarn: error writing standard output\n", stderr);
  return false;
}

}  // namespace

int run(int argc, char** argv) {
  platform::resetInheritedSignals();
  int status = kExitFailure;
  bool json = false;
  try {
    const CommandLine line = readCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    const bool usable = line.error.empty();
    json = line.options.json && usable;
    // With --json, standard output holds the object alone: records go to standard error.
    Logger::init(json);
    Logger::setQuiet(line.quiet && usable);
    ensureDataDirectory();
    if (line.version && usable) {
      fmt::print("quarn {}\n", QUARN_VERSION);
      status = kExitSuccess;
    } else {
      status = dispatch(line);
    }
  } catch (const std::exception& error) {
    if (json) {
      printJsonError(error.what());
    } else {
      Logger::get()->error(error.what());
    }
    status = kExitFailure;
  } catch (...) {
    Logger::get()->error("unexpected error");
    status = kExitFailure;
  }
  if (!flushStandardOutput() && status == kExitSuccess) status = kExitFailure;
  // A stop signal that quarn received ends it the same way once it has reported, so that a
  // calling shell stops too. A build that exited with 130 or died of a signal of its own is a
  // failed build, nothing more.
  if (const int signal = platform::stopSignal()) platform::endBySignal(signal);
  return status;
}

}  // namespace quarn::cli
