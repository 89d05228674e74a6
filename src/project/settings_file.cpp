#include "project/settings_file.hpp"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <toml++/toml.h>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "project/hosts.hpp"
#include "project/kinds.hpp"

namespace quarn {

namespace {

constexpr std::size_t kSizeLimit = std::size_t{1} << 20;

[[noreturn]] void fail(const std::string& file, const toml::source_region& where,
                       const std::string& what) {
  throw SettingsError(
      fmt::format("{}:{}:{}: {}", file, where.begin.line, where.begin.column, what));
}

std::string stringValue(const std::string& file, const std::string& key, const toml::node& node) {
  const auto* text = node.as_string();
  if (text == nullptr) fail(file, node.source(), fmt::format("'{}' must be a string", key));
  return text->get();
}

bool windows() { return platform::kCommandDialect == platform::CommandDialect::WindowsCmd; }

// What a string may not hold: a control character (a NUL cuts the text where the system reads
// it), but tab and, in a command that a POSIX shell reads line by line, line feed.
void checkCharacters(const std::string& file, const toml::node& node, const std::string& what,
                     const std::string& text, bool command) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte != 0x7f) continue;
    if (command && (c == '\t' || (c == '\n' && !windows()))) continue;
    if (command && c == '\n') {
      fail(file, node.source(),
           fmt::format("{} has several lines, and cmd.exe runs only the first: join them with &&",
                       what));
    }
    fail(file, node.source(), fmt::format("{} holds the control character U+{:04X}", what, byte));
  }
}

// `text` without blank space and blank lines before and after it.
std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Where a POSIX shell's comment begins in the one-line `command`, or npos: at a "#" that begins a
// word, outside quotes.
size_t commentStart(const std::string& command) {
  enum class Quote { None, Single, Double } quote = Quote::None;
  bool wordStart = true;
  for (size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (quote == Quote::Single) {
      if (c == '\'') quote = Quote::None;
      continue;
    }
    if (quote == Quote::Double) {
      if (c == '\\') ++i;
      if (c == '"') quote = Quote::None;
      continue;
    }
    if (c == '#' && wordStart) return i;
    if (c == '\\') {
      ++i;
      wordStart = false;
      continue;
    }
    if (c == '\'') quote = Quote::Single;
    if (c == '"') quote = Quote::Double;
    wordStart = isBlank(c) || std::string_view(";&|()<>").find(c) != std::string_view::npos;
  }
  return std::string::npos;
}

// Decides where arguments passed after "--" go in the command `key` ("build", "test"): at the
// end of its one line, before a comment that ends it, setting `at`. Where they would not join the
// last command (a command of several lines, one that ends in an operator or has no command), they
// are refused rather than guessed at: `refused` says why.
void placeArguments(const std::string& command, const std::string& key, const std::string& file,
                    const toml::source_region& where, std::size_t& at, std::string& refused) {
  const std::string place = fmt::format("{}:{}:{}: ", file, where.begin.line, where.begin.column);
  if (command.find('\n') != std::string::npos) {
    refused = place + fmt::format(
                          "arguments after -- go at the end of '{}', which has several lines: "
                          "write them into it instead",
                          key);
    return;
  }
  size_t end = windows() ? std::string::npos : commentStart(command);
  if (end != std::string::npos) {
    while (end > 0 && isBlank(command[end - 1])) --end;
    at = end;
  }
  const size_t length = end == std::string::npos ? command.size() : end;
  if (length == 0) {
    refused =
        place +
        fmt::format("arguments after -- have no command to go to: '{}' is only a comment", key);
    return;
  }
  const char last = command[length - 1];
  if (std::string_view(";&|\\").find(last) != std::string_view::npos) {
    refused = place + fmt::format(
                          "arguments after -- go at the end of '{}', which ends in '{}': they "
                          "would not reach its last command",
                          key, last);
  }
}

}  // namespace

std::optional<ProjectSettings> readProjectSettings(const std::string& folder,
                                                   const std::string& shownFolder) {
  const auto inFolder = [](const std::string& name) {
    return (std::filesystem::u8path(name.empty() ? "." : name) / kSettingsFileName).u8string();
  };
  const platform::FileText text = platform::readRegularFile(inFolder(folder), kSizeLimit);
  const std::string file = inFolder(shownFolder.empty() ? folder : shownFolder);
  using Status = platform::FileText::Status;
  switch (text.status) {
    case Status::Missing: return std::nullopt;
    case Status::Read: break;
    case Status::LinkToNothing:
      throw SettingsError(file + ": a link to a file that does not exist");
    case Status::NotARegularFile: throw SettingsError(file + ": not a regular file");
    case Status::TooLarge: throw SettingsError(file + ": larger than 1 MiB");
    case Status::Unreadable: throw SettingsError(file + ": " + text.error);
  }
  toml::table table;
  try {
    table = toml::parse(text.text, file);
  } catch (const toml::parse_error& error) {
    fail(file, error.source(), std::string(error.description()));
  }
  // Taken in the file's order, so that an error names the first bad line.
  std::vector<std::pair<const toml::key*, const toml::node*>> entries;
  for (const auto& [name, node] : table) entries.emplace_back(&name, &node);
  std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
    const toml::source_position& left = a.first->source().begin;
    const toml::source_position& right = b.first->source().begin;
    return left.line != right.line ? left.line < right.line : left.column < right.column;
  });
  ProjectSettings settings;
  settings.file = file;
  for (const auto& [name, node] : entries) {
    const std::string key(name->str());
    if (key == "kind") {
      const std::string kind = stringValue(file, key, *node);
      if (kindNamed(kind) == nullptr) {
        fail(file, node->source(), fmt::format("unknown kind '{}'", kind));
      }
      settings.kind = kind;
    } else if (key == "build" || key == "clean" || key == "test") {
      const std::string command = stringValue(file, key, *node);
      checkCharacters(file, *node, "'" + key + "'", command, true);
      if (key == "clean") {
        settings.clean = trimmed(command);  // empty: there is nothing to clean
      } else if (key == "test") {
        // Empty: the project has no tests, which `quarn test` says.
        settings.test = trimmed(command);
        if (!settings.test->empty()) {
          placeArguments(*settings.test, key, file, node->source(), settings.testArgumentsAt,
                         settings.testRefusesArguments);
        }
      } else {
        // An empty build would be reported as a success with nothing run.
        settings.build = trimmed(command);
        if (settings.build->empty()) fail(file, node->source(), "'build' is empty");
        placeArguments(*settings.build, key, file, node->source(), settings.buildArgumentsAt,
                       settings.buildRefusesArguments);
      }
    } else if (key == "tools") {
      const auto* list = node->as_array();
      if (list == nullptr) fail(file, node->source(), "'tools' must be an array of strings");
      std::vector<std::string> tools;
      for (const toml::node& item : *list) {
        if (!item.is_string()) fail(file, item.source(), "'tools' must be an array of strings");
        const std::string& tool = item.as_string()->get();
        if (tool.empty()) fail(file, item.source(), "'tools' holds an empty name");
        checkCharacters(file, item, "a name in 'tools'", tool, false);
        tools.push_back(tool);
      }
      settings.tools = std::move(tools);
    } else if (key == "hosts") {
      // One distcc host an entry, so that an error points at it; [] builds on this machine.
      const auto* list = node->as_array();
      if (list == nullptr) fail(file, node->source(), "'hosts' must be an array of distcc hosts");
      std::vector<std::string> hosts;
      for (const toml::node& item : *list) {
        if (!item.is_string())
          fail(file, item.source(), "'hosts' must be an array of distcc hosts");
        std::string error;
        if (!readHostEntry(item.as_string()->get(), error)) fail(file, item.source(), error);
        hosts.push_back(item.as_string()->get());
      }
      settings.hosts = std::move(hosts);
    } else {
      fail(file, name->source(), fmt::format("unknown key '{}'", key));
    }
    settings.keys.push_back(key);
  }
  // "custom" has no command of its own: without one here, there would be nothing to run.
  if (settings.kind == "custom" && !settings.build) {
    fail(file, table.at("kind").source(), "kind 'custom' needs 'build'");
  }
  return settings;
}

}  // namespace quarn
