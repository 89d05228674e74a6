#include "cli/app.hpp"

#include <cstdio>
#include <exception>
#include <string>

#include <fmt/format.h>

#include "cli/data_directory.hpp"
#include "cli/logger.hpp"
#include "commands/commands.hpp"
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

using Handler = int (*)(const std::string&);

// Returns the handler of a command word, or null for help and unknown words.
Handler findHandler(const std::string& command) {
  if (command == "build") return cmdBuild;
  if (command == "rebuild") return cmdRebuild;
  if (command == "detect") return cmdDetect;
  if (command == "validate") return cmdValidate;
  if (command == "info") return cmdInfo;
  return nullptr;
}

int dispatch(const std::string& command, const std::string& path) {
  const auto logger = Logger::get();
  printBanner();
  if (command == "help" || command == "--help" || command == "-h") {
    printUsage();
    return kExitSuccess;
  }
  if (Handler handler = findHandler(command)) return handler(path);
  logger->error(fmt::format("Unknown command: {}", command));
  printUsage();
  return kExitUsage;
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
  int status = kExitFailure;
  try {
    Logger::init();
    ensureDataDirectory();
    const std::string command = argc >= 2 ? argv[1] : "help";
    const std::string path = argc >= 3 ? argv[2] : ".";
    status = dispatch(command, path);
  } catch (const std::exception& error) {
    Logger::get()->error(error.what());
    status = kExitFailure;
  } catch (...) {
    Logger::get()->error("unexpected error");
    status = kExitFailure;
  }
  if (!flushStandardOutput() && status == kExitSuccess) status = kExitFailure;
  return status;
}

}  // namespace quarn::cli
