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
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
    return std::nullopt;
  }
  const unsigned count = static_cast<unsigned>(std::stoul(text));
  return count > 0 ? std::optional<unsigned>(count) : std::nullopt;
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

  CLI::App app;
  app.set_help_flag();
  app.allow_extras();
  std::string jobs;
  app.add_option("path", line.options.path);
  app.add_flag("-q,--quiet", line.quiet);
  app.add_flag("--version", line.version);
  app.add_flag("-h,--help", line.help);
  app.add_option("--kind", line.options.kind);
  if (cleaning) app.add_flag("-n,--dry-run", line.options.dryRun);
  if (building) app.add_option("-j,--jobs", jobs);
  if (reporting) app.add_flag("--json", line.options.json);
  std::vector<std::string> arguments(words.begin() + 1, dashes);
  std::reverse(arguments.begin(), arguments.end());  // CLI11 takes them last first
  try {
    app.parse(arguments);
  } catch (const CLI::ParseError& error) {
    line.error = error.what();
    return line;
  }
  for (const std::string& extra : app.remaining()) {
    if (extra.size() > 1 && extra[0] == '-') {
      line.error = "Unknown option: " + extra;
      return line;
    }
  }
  line.options.pathGiven = app.count("path") > 0;
  // An empty path names the current folder, as it does for the existence tests.
  if (line.options.path.empty()) line.options.path = ".";
  if (building && app.count("--jobs") > 0) {
    line.options.jobs = jobCount(jobs);
    if (!line.options.jobs) line.error = "--jobs needs a whole number of 1 or more, not '" + jobs + "'";
  }
  if (!line.options.kind.empty() && kindNamed(line.options.kind) == nullptr) {
    std::string names;
    for (const std::string& name : kindNames()) names += (names.empty() ? "" : ", ") + name;
    line.error = "Unknown kind: " + line.options.kind + " (the kinds are " + names + ")";
  }
  return line;
}

}  // namespace quarn::cli
