#pragma once

#include <memory>

#include <spdlog/logger.h>

namespace quarn {

// Holder of the one console logger "quarn": records go to standard output as "[level] message",
// the tag coloured on a terminal unless NO_COLOR is set. Control characters in a message are shown
// escaped. The logger is kept here only, not in spdlog's registry.
class Logger {
 public:
  // Creates the logger and installs it, replacing any earlier one. With `standardError`, records
  // go there instead, leaving standard output to the program's own text.
  static void init(bool standardError = false);

  // Returns a handle to the installed logger, creating it first when there is none.
  static std::shared_ptr<spdlog::logger> get();

  // Returns a handle that writes through the same sink but is never quietened: for the one line
  // that tells a command's outcome.
  static std::shared_ptr<spdlog::logger> outcome();

  // Quiet: the info records of get() are dropped; warnings, errors and outcome() stay.
  static void setQuiet(bool quiet);
  static bool quiet();
};

// Prints an empty line to standard output, as the reports frame themselves, unless quiet.
void printBlankLine();

}  // namespace quarn
