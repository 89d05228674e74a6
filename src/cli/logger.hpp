#pragma once

#include <memory>

#include <spdlog/logger.h>

namespace quarn {

// Holder of the one console logger "quarn": records go to standard output as "[level] message",
// the tag coloured on a terminal unless NO_COLOR is set. The logger is kept here only, not in
// spdlog's registry.
class Logger {
 public:
  // Creates the logger and installs it, replacing any earlier one.
  static void init();

  // Returns a handle to the installed logger, creating it first when there is none.
  static std::shared_ptr<spdlog::logger> get();
};

}  // namespace quarn
