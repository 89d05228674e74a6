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
  bool help = false;     // -h or --help after a command word, or "help COMMAND": its usage
  std::string error;     // what makes the line unusable (an unknown option, a bad value)
};

// One option: how the usage shows it and how it is read.
struct OptionEntry {
  const char* names;        // CLI11's spelling, short name first: "-j,--jobs"; "--" ends options
  const char* value;        // the value's name in the usage ("N"), or nullptr for a flag
  const char* description;  // one line for the command's usage
  // What the value must be, for "--jobs needs ..."; nullptr for a flag.
  std::string (*needs)();
  // Takes the option into the line: `value` is its last value ("" for a flag). Returns what is
  // wrong with the value, or nothing. nullptr for "--", which is read apart.
  std::string (*take)(CommandLine& line, const std::string& value);
};

// One command: its word, its line and description in the general usage, its handler (nullptr for
// help) and its options in the order its own usage lists them. A new command is one row of
// commandTable(); a new option is one OptionEntry, named in the rows of the commands that take it.
struct CommandEntry {
  const char* name;
  const char* synopsis;
  const char* description;
  int (*handler)(const CommandOptions&);
  std::vector<const OptionEntry*> options;
  bool inGeneralUsage = true;  // false: only its own usage shows it
};

// The commands in the order of the general usage, which leaves out those that ask to be.
const std::vector<CommandEntry>& commandTable();

// Returns the row of a command word, or nullptr for a word that is not one.
const CommandEntry* findCommand(const std::string& word);

// Reads the words after the program name. The first is the command word; the options of its
// command may come before or after the path, "--" ends them, and what follows is for the build.
// Words that are neither options nor the path are ignored. "help COMMAND" asks for the command's
// usage; help ignores the rest.
CommandLine readCommandLine(const std::vector<std::string>& words);

}  // namespace quarn::cli
