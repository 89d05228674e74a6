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
  std::string versionLine;  // the version is the first line beginning so; empty: the first line
};

// The known build tools, with probes that look at this machine. Lookups are exact and
// case-sensitive; the table never changes after construction. A tool may also be named by a path
// into the project (".venv/bin/pip"): it is looked for there, and known by its last component.
class ToolRegistry {
 public:
  // How long a version command may run before it is killed and the version is "unknown".
  static constexpr std::chrono::seconds kVersionTimeout{10};

  // Knows every tool of the kind table. A version command still running after `versionTimeout`
  // is ended.
  explicit ToolRegistry(std::chrono::milliseconds versionTimeout = kVersionTimeout);
  // Also knows the tools a project declares it needs, with a "--version" command and no guides. A
  // declared path that names no known tool is a program of the project's own: it counts as
  // registered, and is never run to ask for a version.
  explicit ToolRegistry(const std::vector<std::string>& declared,
                        std::chrono::milliseconds versionTimeout = kVersionTimeout);

  // Returns the record of `tool`, or null when it is not registered.
  const ToolInfo* find(const std::string& tool) const;

  // Returns the install command of `tool` for the system quarn was built for, or
  // "Tool not found in registry", or "No installation guide available for your OS", or for a
  // program of the project's own, that it must be an executable file there.
  std::string getInstallGuide(const std::string& tool) const;

  // Returns the program `tool` names as a build run in `where` finds it: a path is taken in
  // `where`; a name is looked up on the search path, relative entries taken from `where` (empty:
  // quarn's own folder). Empty when not found. Runs nothing.
  static std::string locate(const std::string& tool, const std::string& where = {});

  // Returns whether the program at `path` (as locate finds it), run in `where` without a command
  // processor, answers "--version" by ending with status 0 within `timeout`: a program that is
  // there but does not work is no tool to put in front of a build.
  static bool answersVersion(const std::string& path, const std::string& where,
                             std::chrono::milliseconds timeout = kVersionTimeout);

  // Returns true when `tool` is registered and locate finds it. Runs nothing.
  bool isInstalled(const std::string& tool, const std::string& where = {}) const;

  // Returns the first line of what the tool's version command, run in `where`, prints on either
  // stream (possibly empty; at most 64 KiB of a line that does not end), or "unknown" for an
  // unregistered tool, a command that cannot start or one that prints no line feed and is still
  // running after the registry's version timeout, and for a program of the project's own. The
  // command is ended once its line is in.
  std::string getVersion(const std::string& tool, const std::string& where = {}) const;

  // Returns the names in `tools` that isInstalled rejects, in their order, repeats included.
  std::vector<std::string> getMissingTools(const std::vector<std::string>& tools,
                                           const std::string& where = {}) const;

 private:
  std::map<std::string, ToolInfo> tools_;
  std::chrono::milliseconds versionTimeout_;
};

}  // namespace quarn
