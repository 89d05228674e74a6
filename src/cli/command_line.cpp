#include "cli/command_line.hpp"

#include <algorithm>

#include <CLI/CLI.hpp>

#include "project/kinds.hpp"

namespace quarn::cli {

namespace {

bool isCommand(const std::string& word, std::initializer_list<const char*> commands) {
  return std::any_of(commands.begin(), commands.end(),
                     [&word](const char* command) { return word == command; });
}

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

std::string needsValue(const std::string& option) {
  if (option == "--kind") return "--kind needs a kind name (the kinds are " + kindList() + ")";
  return option + " needs a whole number of 1 or more";
}

// CLI11's own words for a value left out or given to a flag read badly; these are caught first.
// A value option's value is the next word unless that is an option too.
std::string misusedOption(const std::vector<std::string>& arguments, bool building) {
  const auto takesValue = [building](const std::string& word) {
    return word == "--kind" || (building && (word == "-j" || word == "--jobs"));
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (takesValue(word) && (i + 1 == arguments.size() || arguments[i + 1].rfind('-', 0) == 0)) {
      return needsValue(word);
    }
    const std::size_t equals = word.find('=');
    if (word.rfind("--", 0) != 0 || equals == std::string::npos) continue;
    const std::string name = word.substr(0, equals);
    if (takesValue(name) && equals + 1 == word.size()) return needsValue(name);
    if (isCommand(name, {"--quiet", "--version", "--help", "--dry-run", "--json"})) {
      return name + " takes no value";
    }
  }
  return {};
}

}  // namespace

CommandLine readCommandLine(const std::vector<std::string>& words) {
  CommandLine line;
  if (words.empty()) return line;
  line.command = words.front();
  if (line.command == "--version") {
    line.version = true;
    return line;
  }
  const bool building = isCommand(line.command, {"build", "rebuild"});
  const bool cleaning = building || line.command == "clean";
  const bool reporting = isCommand(line.command, {"detect", "info", "validate"});
  if (!cleaning && !reporting) return line;  // help ignores the rest; other words are unknown

  const auto dashes = std::find(words.begin() + 1, words.end(), "--");
  if (dashes != words.end()) line.options.buildArguments.assign(dashes + 1, words.end());

  std::vector<std::string> arguments(words.begin() + 1, dashes);
  line.error = misusedOption(arguments, building);
  if (!line.error.empty()) return line;

  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  std::string jobs;
  app.add_option("path", line.options.path);
  app.add_flag("-q,--quiet", line.quiet);
  app.add_flag("--version", line.version);
  app.add_flag("-h,--help", line.help);
  app.add_option("--kind", line.options.kind)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  if (cleaning) app.add_flag("-n,--dry-run", line.options.dryRun);
  if (building) {
    app.add_option("-j,--jobs", jobs)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  }
  if (reporting) app.add_flag("--json", line.options.json);
  std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
  try {
    app.parse(arguments);
  } catch (const CLI::ArgumentMismatch& error) {
    // A value left out where the scan above cannot see it, as in "-nj".
    const std::string what = error.what();
    line.error = what.rfind("--kind:", 0) == 0   ? needsValue("--kind")
                 : what.rfind("--jobs:", 0) == 0 ? needsValue("--jobs")
                                                 : what;
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
  if (building && app.count("--jobs") > 0) {
    line.options.jobs = jobCount(jobs);
    if (!line.options.jobs) {
      line.error = "--jobs needs a whole number of 1 or more, not '" + jobs + "'";
    }
  }
  if (!line.options.kind.empty() && kindNamed(line.options.kind) == nullptr) {
    line.error = "Unknown kind: " + line.options.kind + " (the kinds are " + kindList() + ")";
  }
  return line;
}

}  // namespace quarn::cli
