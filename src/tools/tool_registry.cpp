#include "tools/tool_registry.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "project/environment.hpp"
#include "project/kinds.hpp"

namespace quarn {

namespace {

// Version output is read in pieces of this size and joined before the line is cut out.
constexpr size_t kVersionReadSize = 127;
// Reading stops at the line wanted, or once this much has come without it, so that a tool that
// floods its output cannot exhaust memory.
constexpr size_t kVersionOutputLimit = size_t{64} * 1024;

bool isPath(const std::string& tool) {
  return tool.find('/') != std::string::npos || tool.find('\\') != std::string::npos;
}

// Whether `output` holds the version line: the first line, or the first beginning with `prefix`.
size_t versionLineStart(const std::string& output, const std::string& prefix) {
  if (prefix.empty()) return 0;
  for (size_t start = 0; start < output.size();) {
    if (output.compare(start, prefix.size(), prefix) == 0) return start;
    const size_t lineFeed = output.find('\n', start);
    if (lineFeed == std::string::npos) break;
    start = lineFeed + 1;
  }
  return std::string::npos;
}

// `line` without the colour and style sequences some tools print even into a pipe (ESC [ ... m):
// they are presentation, not the version.
std::string withoutColours(const std::string& line) {
  std::string plain;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\x1b' && i + 1 < line.size() && line[i + 1] == '[') {
      size_t end = i + 2;
      while (end < line.size() && ((line[end] >= '0' && line[end] <= '9') || line[end] == ';')) {
        ++end;
      }
      if (end < line.size() && line[end] == 'm') {
        i = end;
        continue;
      }
    }
    plain += line[i];
  }
  return plain;
}

}  // namespace

ToolRegistry::ToolRegistry(std::chrono::milliseconds versionTimeout)
    : versionTimeout_(versionTimeout) {
  for (const Tool* tool : tools()) {
    const std::string name(tool->name);
    tools_.emplace(name, ToolInfo{name,
                                  tool->versionCommand.empty() ? name + " --version"
                                                               : std::string(tool->versionCommand),
                                  {{"windows", std::string(tool->windows)},
                                   {"macos", std::string(tool->macos)},
                                   {"linux", std::string(tool->linux)}},
                                  std::string(tool->versionLine)});
  }
}

ToolRegistry::ToolRegistry(const std::vector<std::string>& declared,
                           std::chrono::milliseconds versionTimeout)
    : ToolRegistry(versionTimeout) {
  for (const std::string& tool : declared) {
    if (tool.empty() || find(tool) != nullptr) continue;
    // A path is a program of the project's own (a build script, perhaps the very build): it is
    // not run to ask for a version it may not have.
    const std::string version =
        isPath(tool) ? std::string() : platform::quoteArgument(tool) + " --version";
    tools_.emplace(tool, ToolInfo{tool, version, {}, {}});
  }
}

const ToolInfo* ToolRegistry::find(const std::string& tool) const {
  auto it = tools_.find(tool);
  // A path into the project to a known tool (".venv/bin/pip") is known by its name.
  if (it == tools_.end() && isPath(tool)) {
    it = tools_.find(std::filesystem::u8path(tool).stem().u8string());
  }
  return it == tools_.end() ? nullptr : &it->second;
}

std::string ToolRegistry::getInstallGuide(const std::string& tool) const {
  const ToolInfo* info = find(tool);
  if (info == nullptr) return "Tool not found in registry";
  if (isPath(tool) && info->installGuides.empty()) {
    return "'" + tool + "' must be an executable file in the project folder";
  }
  if (platform::kOsKey != nullptr) {
    const auto guide = info->installGuides.find(platform::kOsKey);
    if (guide != info->installGuides.end()) return guide->second;
  }
  return "No installation guide available for your OS";
}

std::string ToolRegistry::locate(const std::string& tool, const std::string& where) {
  if (isPath(tool)) {
    const std::string path =
        (std::filesystem::u8path(where) / std::filesystem::u8path(tool)).u8string();
    return platform::isExecutableFile(path) ? path : std::string();
  }
  return Environment::system().locate(tool, where);
}

bool ToolRegistry::answersVersion(const std::string& path, const std::string& where,
                                  std::chrono::milliseconds timeout) {
  // Found from quarn's own folder; the program runs in `where`.
  std::error_code error;
  const std::filesystem::path program = std::filesystem::absolute(path, error);
  if (error) return false;
  const platform::CapturedOutput answer =
      platform::captureProgramOutput({program.string(), "--version"}, where, timeout);
  return answer.completed && answer.status == 0;
}

bool ToolRegistry::isInstalled(const std::string& tool, const std::string& where) const {
  return find(tool) != nullptr && !locate(tool, where).empty();
}

std::string ToolRegistry::getVersion(const std::string& tool, const std::string& where) const {
  const ToolInfo* info = find(tool);
  if (info == nullptr || info->versionCommand.empty()) return "unknown";
  const std::string command =
      info->name == tool
          ? info->versionCommand
          : platform::quoteArgument(tool) + info->versionCommand.substr(info->name.size());
  const std::string& prefix = info->versionLine;
  platform::CapturedOutput captured = platform::captureShellOutput(
      command, where, versionTimeout_, kVersionReadSize, [&prefix](const std::string& output) {
        if (output.size() >= kVersionOutputLimit) return true;
        const size_t start = versionLineStart(output, prefix);
        return start != std::string::npos && output.find('\n', start) != std::string::npos;
      });
  if (!captured.completed) return "unknown";
  size_t start = versionLineStart(captured.output, prefix);
  if (start == std::string::npos) start = 0;  // no such line: the first, as for any tool
  std::string line = captured.output.substr(start);
  const size_t lineFeed = line.find('\n');
  line.resize(std::min({lineFeed, line.size(), kVersionOutputLimit}));
  return withoutColours(line);
}

std::vector<std::string> ToolRegistry::getMissingTools(const std::vector<std::string>& tools,
                                                       const std::string& where) const {
  std::vector<std::string> missing;
  for (const std::string& tool : tools) {
    if (!isInstalled(tool, where)) missing.push_back(tool);
  }
  return missing;
}

}  // namespace quarn
