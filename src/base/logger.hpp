#pragma once

#include <string_view>

namespace quarn {

// One way into the console logger: the records that quiet mode drops at info, or the outcome
// records that it never drops. Messages are written as given, not as format strings.
class LogChannel {
 public:
  void info(std::string_view message) const;
  void warn(std::string_view message) const;
  void error(std::string_view message) const;

  // Lets call sites write Logger::get()->info(...) as with a pointer.
  const LogChannel* operator->() const { return this; }

 private:
  friend class Logger;
  explicit LogChannel(bool outcome) : outcome_(outcome) {}
  bool outcome_;
};

// Holder of the one console logger "quarn": records go to standard output as "[level] message",
// the tag coloured on a terminal unless NO_COLOR is set. Control characters in a message are shown
// escaped. spdlog stays behind this header: only logger.cpp includes it.
class Logger {
 public:
  // Creates the logger and installs it, replacing any earlier one. With `standardError`, records
  // go there instead, leaving standard output to the program's own text.
  static void init(bool standardError = false);

  // Returns the channel of the installed logger, created at its first record when there is none.
  static LogChannel get();

  // Returns the channel that writes through the same sink but is never quietened: for the one line
  // that tells a command's outcome.
  static LogChannel outcome();

  // Quiet: the info records of get() are dropped; warnings, errors and outcome() stay.
  static void setQuiet(bool quiet);
  static bool quiet();
};

// Prints an empty line to standard output, as the reports frame themselves, unless quiet.
void printBlankLine();

}  // namespace quarn
