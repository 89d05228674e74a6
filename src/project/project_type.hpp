#pragma once

#include <cstdint>
#include <string>

namespace quarn {

// The kinds of project quarn recognises. A Gradle build file has no kind of its own and counts
// as Maven.
enum class ProjectType : std::int32_t { CMake, DotNet, Cargo, Make, Npm, Pip, Maven, Unknown };

// How a kind of project is built: the tool (the key of the tool registry), the command line that
// builds it, run as stored, and the language label shown to the user.
struct BuildConfig {
  ProjectType projectType = ProjectType::Unknown;
  std::string buildTool;
  std::string buildCommand;
  std::string language;
};

}  // namespace quarn
