#pragma once

#include <string>
#include <vector>

#include "commands/options.hpp"

namespace quarn::cli {

// One command line, read but not yet acted on.
struct CommandLine {
  std::string command = "help";  // the command word
  CommandOptions options;
  bool quiet = false;    // -q: no banner and no info lines
  bool version = false;  // --version, anywhere before "--"
  bool help = false;     // -h or --help after a command word
  std::string error;     // what makes the line unusable (an unknown option, a bad value)
};

// Reads the words after the program name. The first is the command word; the options of its
// command may come before or after the path, "--" ends them, and what follows is for the build.
// Words that are neither options nor the path are ignored.
CommandLine readCommandLine(const std::vector<std::string>& words);

}  // namespace quarn::cli
