#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quarn {

// What quarn knows of one build tool.
struct ToolInfo {
  std::string name;
  std::string versionCommand;                        // makes the tool print its version
  std::map<std::string, std::string> installGuides;  // "windows", "macos", "linux" -> command line
};

// The seven known build tools, with probes that look at this machine. Lookups are exact and
// case-sensitive; the table never changes after construction.
class ToolRegistry {
 public:
  // How long a version command may run before it is killed and the version is "unknown".
  static constexpr std::chrono::seconds kVersionTimeout{10};

  ToolRegistry();

  // Returns the record of `tool`, or null when it is not registered.
  const ToolInfo* find(const std::string& tool) const;

  // Returns the install command of `tool` for the system quarn was built for, or
  // "Tool not found in registry", or "No installation guide available for your OS".
  std::string getInstallGuide(const std::string& tool) const;

  // Returns true when `tool` is registered and found on the search path. Runs nothing.
  bool isInstalled(const std::string& tool) const;

  // Returns the first line of what the tool's version command prints on either stream (possibly
  // empty; at most 64 KiB of a line that does not end), or "unknown" for an unregistered tool, a
  // command that cannot start or one that prints no line feed and is still running after
  // kVersionTimeout. The command is ended once its first line is in.
  std::string getVersion(const std::string& tool) const;

  // Returns the names in `tools` that isInstalled rejects, in their order, repeats included.
  std::vector<std::string> getMissingTools(const std::vector<std::string>& tools) const;

 private:
  std::map<std::string, ToolInfo> tools_;
};

}  // namespace quarn
