#include "project/settings_file.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

#include <fmt/format.h>
#include <toml++/toml.h>

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

}  // namespace

std::optional<ProjectSettings> readProjectSettings(const std::string& folder,
                                                   const std::string& shownFolder) {
  const auto inFolder = [](const std::string& name) {
    return (std::filesystem::path(name.empty() ? "." : name) / kSettingsFileName).string();
  };
  const platform::FileText text = platform::readRegularFile(inFolder(folder), kSizeLimit);
  const std::string file = inFolder(shownFolder.empty() ? folder : shownFolder);
  using Status = platform::FileText::Status;
  switch (text.status) {
    case Status::Missing: return std::nullopt;
    case Status::Read: break;
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
    } else if (key == "build") {
      settings.build = stringValue(file, key, *node);
    } else if (key == "clean") {
      settings.clean = stringValue(file, key, *node);
    } else if (key == "tools") {
      const auto* list = node->as_array();
      if (list == nullptr) fail(file, node->source(), "'tools' must be an array of strings");
      std::vector<std::string> tools;
      for (const toml::node& item : *list) {
        if (!item.is_string()) fail(file, item.source(), "'tools' must be an array of strings");
        tools.push_back(item.as_string()->get());
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
        if (!readHostSpec(item.as_string()->get(), error)) fail(file, item.source(), error);
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
