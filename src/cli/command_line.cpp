#include "cli/command_line.hpp"

#include <algorithm>
#include <optional>

#include <CLI/CLI.hpp>

#include "commands/commands.hpp"
#include "project/hosts.hpp"
#include "project/kinds.hpp"

namespace quarn::cli {

namespace {

// A whole number of at least 1, or nothing.
std::optional<unsigned> jobCount(const std::string& text) {
  if (text.empty() || text.size() > 6 ||
      text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned count = static_cast<unsigned>(std::stoul(text));
  return count > 0 ? std::optional<unsigned>(count) : std::nullopt;
}

std::string kindList() {
  std::string names;
  for (const std::string& name : kindNames()) names += (names.empty() ? "" : ", ") + name;
  return names;
}

std::string wholeNumber() { return "a whole number of 1 or more"; }

const OptionEntry kDryRun{"-n,--dry-run", nullptr,
                          "Check the tools and print the plan; run and remove nothing", nullptr,
                          [](CommandLine& line, const std::string&) {
                            line.options.dryRun = true;
                            return std::string();
                          }};
const OptionEntry kJobs{"-j,--jobs", "N", "Run N jobs at once, through the kind's own setting",
                        wholeNumber, [](CommandLine& line, const std::string& jobs) {
                          line.options.jobs = jobCount(jobs);
                          if (line.options.jobs) return std::string();
                          return "--jobs needs " + wholeNumber() + ", not '" + jobs + "'";
                        }};
const OptionEntry kJson{"--json", nullptr,
                        "Print one JSON object on standard output and nothing else", nullptr,
                        [](CommandLine& line, const std::string&) {
                          line.options.json = true;
                          return std::string();
                        }};
const OptionEntry kQuiet{"-q,--quiet", nullptr, "No banner and no info lines", nullptr,
                         [](CommandLine& line, const std::string&) {
                           line.quiet = true;
                           return std::string();
                         }};
const OptionEntry kKind{"--kind", "NAME", "Take the project as this kind, whatever its markers say",
                        [] { return "a kind name (the kinds are " + kindList() + ")"; },
                        [](CommandLine& line, const std::string& name) {
                          line.options.kind = name;
                          // An empty name leaves the kind to detection.
                          if (name.empty() || kindNamed(name) != nullptr) return std::string();
                          return "Unknown kind: " + name + " (the kinds are " + kindList() + ")";
                        }};
std::string hostList() { return "a list of distcc hosts, as \"a/8 b:3633/4\""; }

const OptionEntry kHosts{"--hosts", "LIST",
                         "The distcc hosts to spread compiles over (\"a/8 b:3633/4\")", hostList,
                         [](CommandLine& line, const std::string& list) {
                           // Empty: this machine alone, whatever quarn.toml or the environment say.
                           line.options.hosts = list;
                           for (const std::string& word : hostWords(list)) {
                             std::string error;
                             if (!readHostEntry(word, error)) return "--hosts: " + error;
                           }
                           return std::string();
                         }};
const OptionEntry kVersion{"--version", nullptr, "Print the version and nothing else", nullptr,
                           [](CommandLine& line, const std::string&) {
                             line.version = true;
                             return std::string();
                           }};
const OptionEntry kHelp{"-h,--help", nullptr, "Show this help", nullptr,
                        [](CommandLine& line, const std::string&) {
                          line.help = true;
                          return std::string();
                        }};
const OptionEntry kBuildArguments{
    "--", "ARGS...", "Add ARGS to the build step, each quoted for the shell", nullptr, nullptr};
const OptionEntry kTestArguments{
    "--", "ARGS...", "Add ARGS to the test step, each quoted for the shell", nullptr, nullptr};

// The name CLI11 reports an option by: its last, long one.
std::string longName(const OptionEntry& option) {
  const std::string names = option.names;
  return names.substr(names.rfind(',') + 1);
}

bool isNamed(const OptionEntry& option, const std::string& word) {
  const std::string names = option.names;
  for (std::size_t start = 0; start <= names.size();) {
    const std::size_t comma = std::min(names.find(',', start), names.size());
    if (names.compare(start, comma - start, word) == 0) return true;
    start = comma + 1;
  }
  return false;
}

// The command's option that takes a value and is called `word`, or nullptr.
const OptionEntry* valueOption(const CommandEntry& command, const std::string& word) {
  for (const OptionEntry* option : command.options) {
    if (option->value != nullptr && option->take != nullptr && isNamed(*option, word)) {
      return option;
    }
  }
  return nullptr;
}

// Whether `name` is the long name of a flag of any command.
bool isFlag(const std::string& name) {
  for (const CommandEntry& command : commandTable()) {
    for (const OptionEntry* option : command.options) {
      if (option->value == nullptr && longName(*option) == name) return true;
    }
  }
  return false;
}

// CLI11's own words for a value left out or given to a flag read badly; these are caught first.
// A value option's value is the next word unless that is an option too.
std::string misusedOption(const std::vector<std::string>& arguments, const CommandEntry& command) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    const OptionEntry* option = valueOption(command, word);
    if (option != nullptr && (i + 1 == arguments.size() || arguments[i + 1].rfind('-', 0) == 0)) {
      return word + " needs " + option->needs();
    }
    const std::size_t equals = word.find('=');
    if (word.rfind("--", 0) != 0 || equals == std::string::npos) continue;
    const std::string name = word.substr(0, equals);
    option = valueOption(command, name);
    if (option != nullptr && equals + 1 == word.size()) return name + " needs " + option->needs();
    if (isFlag(name)) return name + " takes no value";
  }
  return {};
}

}  // namespace

const std::vector<CommandEntry>& commandTable() {
  // clang-format off
  static const std::vector<CommandEntry> table = {
      {"build", "quarn build [path]", "Detect and build project", cmdBuild,
       {&kDryRun, &kJobs, &kHosts, &kQuiet, &kKind, &kVersion, &kHelp, &kBuildArguments}},
      {"test", "quarn test [path]", "Detect the project and run its tests", cmdTest,
       {&kDryRun, &kJobs, &kQuiet, &kKind, &kVersion, &kHelp, &kTestArguments}, false},
      {"rebuild", "quarn rebuild [path]", "Clean and rebuild", cmdRebuild,
       {&kDryRun, &kJobs, &kHosts, &kQuiet, &kKind, &kVersion, &kHelp, &kBuildArguments}},
      {"clean", "quarn clean [path]", "Remove build artifacts", cmdClean,
       {&kDryRun, &kQuiet, &kKind, &kVersion, &kHelp}},
      {"detect", "quarn detect [path]", "Show detected project type", cmdDetect,
       {&kJson, &kQuiet, &kKind, &kVersion, &kHelp}},
      {"validate", "quarn validate [path]", "Check required build tools", cmdValidate,
       {&kJson, &kHosts, &kQuiet, &kKind, &kVersion, &kHelp}},
      {"info", "quarn info [path]", "Show project information", cmdInfo,
       {&kJson, &kQuiet, &kKind, &kVersion, &kHelp}},
      {"help", "quarn help", "Show this help", nullptr, {}},
  };
  // clang-format on
  return table;
}

const CommandEntry* findCommand(const std::string& word) {
  for (const CommandEntry& command : commandTable()) {
    if (word == command.name) return &command;
  }
  return nullptr;
}

CommandLine readCommandLine(const std::vector<std::string>& words) {
  CommandLine line;
  if (words.empty()) return line;
  line.command = words.front();
  if (line.command == "--version") {
    line.version = true;
    return line;
  }
  const CommandEntry* command = findCommand(line.command);
  if (command == nullptr) return line;  // an unknown word
  if (command->handler == nullptr) {
    // help: a command word after it asks for that command's usage; the rest is ignored.
    const CommandEntry* topic = words.size() > 1 ? findCommand(words[1]) : nullptr;
    if (topic != nullptr && topic->handler != nullptr) {
      line.command = topic->name;
      line.help = true;
    }
    return line;
  }

  const auto dashes = std::find(words.begin() + 1, words.end(), "--");
  if (dashes != words.end()) line.options.buildArguments.assign(dashes + 1, words.end());

  std::vector<std::string> arguments(words.begin() + 1, dashes);
  line.error = misusedOption(arguments, *command);
  if (!line.error.empty()) return line;

  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  app.add_option("path", line.options.path);
  std::vector<std::string> values(command->options.size());
  for (std::size_t i = 0; i < command->options.size(); ++i) {
    const OptionEntry& option = *command->options[i];
    if (option.take == nullptr) continue;
    if (option.value == nullptr) {
      app.add_flag(option.names);
    } else {
      app.add_option(option.names, values[i])
          ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    }
  }
  std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
  try {
    app.parse(arguments);
  } catch (const CLI::ArgumentMismatch& error) {
    // A value left out where the scan above cannot see it, as in "-nj".
    const std::string what = error.what();
    line.error = what;
    for (const OptionEntry* option : command->options) {
      const std::string name = longName(*option);
      if (option->needs != nullptr && what.rfind(name + ":", 0) == 0) {
        line.error = name + " needs " + option->needs();
      }
    }
    return line;
  } catch (const CLI::ParseError& error) {
    line.error = error.what();
    return line;
  }
  // CLI11 takes "-5" or "-" for a positional; here every word that begins with "-" is an option.
  std::vector<std::string> extras = app.remaining();
  if (app.count("path") > 0) extras.insert(extras.begin(), line.options.path);
  for (const std::string& extra : extras) {
    if (!extra.empty() && extra[0] == '-') {
      line.error = "Unknown option: " + extra;
      return line;
    }
  }
  line.options.pathGiven = app.count("path") > 0;
  // An empty path names the current folder, as it does for the existence tests.
  if (line.options.path.empty()) line.options.path = ".";
  for (std::size_t i = 0; i < command->options.size(); ++i) {
    const OptionEntry& option = *command->options[i];
    if (option.take == nullptr || app.count(longName(option)) == 0) continue;
    const std::string error = option.take(line, values[i]);
    if (!error.empty()) line.error = error;
  }
  return line;
}

}  // namespace quarn::cli
