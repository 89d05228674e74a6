#include "tools/tool_registry.hpp"

#include <algorithm>

#include "platform/environment.hpp"
#include "platform/process.hpp"

namespace quarn {

namespace {

// Version output is read in pieces of this size and joined before the first line is cut out.
constexpr size_t kVersionReadSize = 127;
// Reading stops at the first line feed, or once this much has come without one, so that a tool
// that floods its output cannot exhaust memory.
constexpr size_t kVersionOutputLimit = size_t{64} * 1024;

ToolInfo makeTool(const char* name, const char* windows, const char* macos, const char* linux) {
  return ToolInfo{name,
                  std::string(name) + " --version",
                  {{"windows", windows}, {"macos", macos}, {"linux", linux}}};
}

}  // namespace

ToolRegistry::ToolRegistry() {
  for (const ToolInfo& tool : {
           makeTool("cmake", "choco install cmake", "brew install cmake", "sudo apt install cmake"),
           makeTool("dotnet", "choco install dotnet-sdk", "brew install dotnet",
                    "sudo apt install dotnet-sdk-8.0"),
           makeTool("cargo", "choco install rustup.install", "brew install rust",
                    "curl --proto '=https' --tlsv1.2 -sSf https://sh.rustup.rs | sh"),
           makeTool("make", "choco install make", "brew install make",
                    "sudo apt install build-essential"),
           makeTool("npm", "choco install nodejs", "brew install node",
                    "sudo apt install nodejs npm"),
           makeTool("pip", "choco install python", "brew install python",
                    "sudo apt install python3-pip"),
           makeTool("mvn", "choco install maven", "brew install maven", "sudo apt install maven"),
       }) {
    tools_.emplace(tool.name, tool);
  }
}

const ToolInfo* ToolRegistry::find(const std::string& tool) const {
  const auto it = tools_.find(tool);
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

bool ToolRegistry::isInstalled(const std::string& tool) const {
  return find(tool) != nullptr && platform::isOnSearchPath(tool);
}

std::string ToolRegistry::getVersion(const std::string& tool) const {
  const ToolInfo* info = find(tool);
  if (info == nullptr) return "unknown";
  platform::CapturedOutput captured = platform::captureShellOutput(
      info->versionCommand + " 2>&1", kVersionTimeout, kVersionReadSize,
      [](const std::string& output) {
        return output.size() >= kVersionOutputLimit || output.find('\n') != std::string::npos;
      });
  if (!captured.completed) return "unknown";
  const size_t lineFeed = captured.output.find('\n');
  captured.output.resize(std::min({lineFeed, captured.output.size(), kVersionOutputLimit}));
  return std::move(captured.output);
}

std::vector<std::string> ToolRegistry::getMissingTools(
    const std::vector<std::string>& tools) const {
  std::vector<std::string> missing;
  for (const std::string& tool : tools) {
    if (!isInstalled(tool)) missing.push_back(tool);
  }
  return missing;
}

}  // namespace quarn
