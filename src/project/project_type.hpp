#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarn {

// The kinds of project quarn recognises. The first eight keep their values; the kinds added since
// follow Unknown.
enum class ProjectType : std::int32_t {
  CMake,
  DotNet,
  Cargo,
  Make,
  Npm,
  Pip,
  Maven,
  Unknown,
  Gradle,
  Pnpm,
  Yarn,
  Bun,
  Uv,
  Poetry,
  Go,
  Meson,
  Autotools,
  Dune,
  Mix,
  Custom,  // no kind: the build command comes from the project's quarn.toml alone
};

// How a project is made clean before it is built again.
struct CleanStep {
  bool removeBuildFolder = true;   // the folder "build" in the project, unless sources are in it
  std::string command;             // then the kind's own clean, run in the project; may be empty
  std::vector<std::string> tools;  // what that command needs on the search path
};

// How a project is built. `buildCommand` is the complete command line, run as stored: the setup
// step (installing dependencies), when there is one, joined with "&&" to the build step.
struct BuildConfig {
  ProjectType projectType = ProjectType::Unknown;
  std::string buildTool;  // the main tool, a key of the tool registry (or a path in the project)
  std::string buildCommand;
  std::string language;

  std::string displayName;
  std::vector<std::string> tools;  // every tool the build needs, buildTool first
  std::string setupStep;
  std::string buildStep;  // arguments passed to the build go here, at `argumentsAt`
  std::size_t argumentsAt = std::string::npos;  // npos: at the end
  std::string argumentPrefix;  // put before passed arguments ("--" for npm's scripts)
  std::string note;            // said once instead of building (a package without a build script)
  CleanStep clean;
  std::vector<std::string> evidence;  // the files that decided the plan, relative to the project
};

}  // namespace quarn
