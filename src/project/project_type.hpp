#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quarn {

struct Kind;

// The kinds of project quarn always knew, by their fixed values. Every kind added since is
// `Other`: it is known by its row of the kind table (see kinds.hpp), not by a member here.
enum class ProjectType : std::int32_t {
  CMake,
  DotNet,
  Cargo,
  Make,
  Npm,
  Pip,
  Maven,
  Unknown,
  Other,
};

// One command line of a plan: an optional set-up (installing dependencies, configuring) joined
// with " && " to the step itself, into which passed flags and arguments go.
struct Command {
  std::string setup;
  std::string step;
  std::size_t argumentsAt = std::string::npos;  // where in `step` they go; npos: at the end
  std::string argumentPrefix;                   // put before passed arguments ("--" for npm)
  std::string argumentsRefused;  // why passed arguments cannot go into the step; empty: they can

  bool empty() const { return setup.empty() && step.empty(); }
  // The whole line: set-up and step.
  std::string line() const;
  // The whole line with `flags` (such as "-T 4") and then `arguments` (quoted already) put into
  // the step, the arguments after the prefix. An empty step takes nothing.
  std::string with(const std::string& flags, const std::string& arguments) const;
};

// How a project is made clean before it is built again.
struct CleanStep {
  // The folders in the project that the kind's tool writes and the clean step removes itself,
  // unless sources may be in them.
  std::vector<std::string> folders;
  std::string command;             // then the kind's own clean, run in the project; may be empty
  std::vector<std::string> tools;  // what that command needs on the search path
  // Where the kind's own clean makes a target of the project's makefile ("make clean"): the
  // target, and the command that makes it. When the step runs, make is asked whether it has the
  // target; `command` is what reading the makefile found, for the plans shown before.
  std::string makeTarget;
  std::string makeCommand;
};

// How a project's tests are run.
struct TestStep {
  Command command;                 // empty: the project has no tests to run
  std::vector<std::string> tools;  // what it needs on the search path
};

// A version of a tool the project pins, as its manifest says it: package.json's
// "packageManager": "pnpm@9.1.1" is {"pnpm", "9.1.1", "package.json"}.
struct PinnedTool {
  std::string tool;
  std::string version;
  std::string file;
};

// How a project is built. `buildCommand` is the complete command line, run as stored: the setup
// step (installing dependencies), when there is one, joined with "&&" to the build step.
struct BuildConfig {
  ProjectType projectType = ProjectType::Unknown;
  std::string buildTool;  // the main tool, a key of the tool registry (or a path in the project)
  std::string buildCommand;
  std::string language;

  const Kind* kind = nullptr;  // the row the plan was made from
  std::string displayName;
  std::vector<std::string> tools;  // every tool the build needs, buildTool first
  Command build;                   // buildCommand, in its parts
  std::string note;  // said once instead of building (a package without a build script)
  CleanStep clean;
  TestStep test;
  std::vector<std::string> evidence;  // the files that decided the plan, relative to the project
  std::optional<PinnedTool> pinned;   // the version of a tool of `tools` the project asks for
};

}  // namespace quarn
