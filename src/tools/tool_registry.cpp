#include "tools/tool_registry.hpp"

#include <algorithm>
#include <filesystem>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"

namespace quarn {

namespace {

// Version output is read in pieces of this size and joined before the line is cut out.
constexpr size_t kVersionReadSize = 127;
// Reading stops at the line wanted, or once this much has come without it, so that a tool that
// floods its output cannot exhaust memory.
constexpr size_t kVersionOutputLimit = size_t{64} * 1024;

struct Row {
  const char* name;
  const char* versionCommand;  // null: "<name> --version"
  const char* windows;
  const char* macos;
  const char* linux;
  const char* versionLine;
};

// clang-format off
const Row kTools[] = {
  {"cmake", nullptr, "choco install cmake", "brew install cmake", "sudo apt install cmake", ""},
  {"dotnet", nullptr, "choco install dotnet-sdk", "brew install dotnet",
   "sudo apt install dotnet-sdk-8.0", ""},
  {"cargo", nullptr, "choco install rustup.install", "brew install rust",
   "curl --proto '=https' --tlsv1.2 -sSf https://sh.rustup.rs | sh", ""},
  {"make", nullptr, "choco install make", "brew install make", "sudo apt install build-essential",
   ""},
  {"npm", nullptr, "choco install nodejs", "brew install node", "sudo apt install nodejs npm", ""},
  {"pip", nullptr, "choco install python", "brew install python", "sudo apt install python3-pip",
   ""},
  {"mvn", nullptr, "choco install maven", "brew install maven", "sudo apt install maven", ""},
  // Gradle prints an empty line and a rule before its version.
  {"gradle", nullptr, "choco install gradle", "brew install gradle", "sudo apt install gradle",
   "Gradle "},
  // The wrappers of Maven and Gradle fetch the tool themselves and need only a Java runtime.
  {"java", "java -version", "choco install openjdk", "brew install openjdk",
   "sudo apt install default-jdk", ""},
  {"go", "go version", "choco install golang", "brew install go", "sudo apt install golang-go", ""},
  {"meson", nullptr, "pip install meson ninja", "brew install meson",
   "sudo apt install meson ninja-build", ""},
  {"ninja", nullptr, "choco install ninja", "brew install ninja", "sudo apt install ninja-build",
   ""},
  {"autoreconf", nullptr, "pacman -S autoconf automake libtool",
   "brew install autoconf automake libtool", "sudo apt install autoconf automake libtool", ""},
  {"pnpm", nullptr, "npm install -g pnpm", "brew install pnpm", "npm install -g pnpm", ""},
  {"yarn", nullptr, "npm install -g yarn", "brew install yarn", "npm install -g yarn", ""},
  {"bun", nullptr, "powershell -c \"irm bun.sh/install.ps1 | iex\"", "brew install oven-sh/bun/bun",
   "curl -fsSL https://bun.sh/install | bash", ""},
  {"uv", nullptr, "powershell -ExecutionPolicy ByPass -c \"irm https://astral.sh/uv/install.ps1 | iex\"",
   "brew install uv", "curl -LsSf https://astral.sh/uv/install.sh | sh", ""},
  {"poetry", nullptr, "pipx install poetry", "brew install poetry", "pipx install poetry", ""},
  {"dune", nullptr, "opam install dune", "opam install dune", "opam install dune", ""},
  // Mix prints the Erlang banner first.
  {"mix", nullptr, "choco install elixir", "brew install elixir", "sudo apt install elixir",
   "Mix "},
};
// clang-format on

bool isPath(const std::string& tool) {
  return tool.find('/') != std::string::npos || tool.find('\\') != std::string::npos;
}

// The search path as a build in `where` sees it: relative entries, the empty one included, are
// taken from there.
std::vector<std::string> searchPathFrom(const std::string& where) {
  std::vector<std::string> directories = platform::searchPathDirectories();
  if (where.empty()) return directories;
  for (std::string& directory : directories) {
    // u8path: on Windows a plain std::string is read in the ANSI code page.
    const std::filesystem::path entry = std::filesystem::u8path(directory);
    if (entry.is_relative()) directory = (std::filesystem::u8path(where) / entry).u8string();
  }
  return directories;
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

ToolRegistry::ToolRegistry() {
  for (const Row& row : kTools) {
    tools_.emplace(row.name,
                   ToolInfo{row.name,
                            row.versionCommand != nullptr ? std::string(row.versionCommand)
                                                          : std::string(row.name) + " --version",
                            {{"windows", row.windows}, {"macos", row.macos}, {"linux", row.linux}},
                            row.versionLine});
  }
}

ToolRegistry::ToolRegistry(const std::vector<std::string>& declared) : ToolRegistry() {
  for (const std::string& tool : declared) {
    if (!tool.empty() && !isPath(tool))
      tools_.emplace(tool, ToolInfo{tool, tool + " --version", {}, {}});
  }
}

const ToolInfo* ToolRegistry::find(const std::string& tool) const {
  const auto it =
      tools_.find(isPath(tool) ? std::filesystem::u8path(tool).stem().u8string() : tool);
  return it == tools_.end() ? nullptr : &it->second;
}

std::string ToolRegistry::getInstallGuide(const std::string& tool) const {
  const ToolInfo* info = find(tool);
  if (info == nullptr) return "Tool not found in registry";
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
  return platform::findExecutableIn(tool, searchPathFrom(where));
}

bool ToolRegistry::isInstalled(const std::string& tool, const std::string& where) const {
  return find(tool) != nullptr && !locate(tool, where).empty();
}

std::string ToolRegistry::getVersion(const std::string& tool, const std::string& where) const {
  const ToolInfo* info = find(tool);
  if (info == nullptr) return "unknown";
  const std::string command =
      isPath(tool) ? tool + info->versionCommand.substr(info->name.size()) : info->versionCommand;
  const std::string& prefix = info->versionLine;
  platform::CapturedOutput captured = platform::captureShellOutput(
      command, where, kVersionTimeout, kVersionReadSize, [&prefix](const std::string& output) {
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
