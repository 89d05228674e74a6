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
#include "platform/environment.hpp"
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
  for (const CommandEntry& command : commandTable()) {
    if (command.inGeneralUsage) fmt::print("    {:<24}{}\n", command.synopsis, command.description);
  }
  fmt::print("\n");
}

namespace {

// "-j, --jobs N" for "-j,--jobs" and "N".
std::string optionLabel(const OptionEntry& option) {
  std::string label;
  for (const char* name = option.names; *name != '\0'; ++name) {
    label += *name == ',' ? std::string(", ") : std::string(1, *name);
  }
  return option.value != nullptr ? label + " " + option.value : label;
}

// A command's usage: its line with what follows the path, its description and its options.
void printCommandUsage(const CommandEntry& command) {
  std::string synopsis = command.synopsis;
  if (!command.options.empty()) synopsis += " [options]";
  for (const OptionEntry* option : command.options) {
    if (option->take == nullptr) synopsis += " [" + optionLabel(*option) + "]";
  }
  fmt::print("  Usage:\n    {}\n\n  {}\n\n  Options:\n", synopsis, command.description);
  for (const OptionEntry* option : command.options) {
    const std::string label = optionLabel(*option);
    const std::size_t column = 16;
    fmt::print("    {}{}{}\n", label,
               std::string(label.size() + 2 > column ? 2 : column - label.size(), ' '),
               option->description);
  }
  fmt::print("\n");
}

int dispatch(const CommandLine& line) {
  const auto logger = Logger::get();
  const std::string& command = line.command;
  const CommandEntry* entry = findCommand(command);
  const bool helpWord =
      command == "--help" || command == "-h" || (entry != nullptr && entry->handler == nullptr);
  // A line that cannot be used is shown as such whatever -q, --json or -h also say.
  if (!helpWord && (entry == nullptr || !line.error.empty())) {
    printBanner();
    logger->error(entry == nullptr ? fmt::format("Unknown command: {}", command) : line.error);
    printUsage();
    return kExitUsage;
  }
  if (!line.quiet && !line.options.json) printBanner();
  if (helpWord) {
    printUsage();
    return kExitSuccess;
  }
  if (line.help) {
    printCommandUsage(*entry);
    return kExitSuccess;
  }
  return entry->handler(line.options);
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
    const CommandLine line = readCommandLine(platform::commandLineArguments(argc, argv));
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
