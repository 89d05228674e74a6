#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quarn {

// What the command line asks of a command, besides the command word.
struct CommandOptions {
  std::string path = ".";        // the project folder as typed
  bool pathGiven = false;        // typed: it names the project itself, and no root is looked for
  bool dryRun = false;           // -n: plan and check, run and remove nothing
  bool json = false;             // --json: one JSON object on standard output, nothing else
  std::optional<unsigned> jobs;  // -j N
  std::vector<std::string> buildArguments;  // the words after "--", for the build or test step
  std::string kind;                         // --kind NAME: the kind, whatever detection says
  std::optional<std::string> hosts;         // --hosts LIST: distcc hosts for the build; "": none
};

}  // namespace quarn
