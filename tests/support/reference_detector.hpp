#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "project/project_type.hpp"

namespace quarn::test {

// The detection rule stated as simply as possible: for each marker in order of precedence, the
// existence test, then a fresh listing of the folder compared name by name. The detector must
// decide as this does, however it gets there.
inline ProjectType referenceDetect(const std::string& path) {
  namespace fs = std::filesystem;
  const std::vector<std::pair<std::string, ProjectType>> markers = {
      {".csproj", ProjectType::DotNet},
      {".sln", ProjectType::DotNet},
      {"CMakeLists.txt", ProjectType::CMake},
      {"Cargo.toml", ProjectType::Cargo},
      {"Makefile", ProjectType::Make},
      {"GNUmakefile", ProjectType::Make},
      {"makefile", ProjectType::Make},
      {"build.gradle", ProjectType::Gradle},
      {"build.gradle.kts", ProjectType::Gradle},
      {"settings.gradle", ProjectType::Gradle},
      {"settings.gradle.kts", ProjectType::Gradle},
      {"package.json", ProjectType::Npm},
      {"pom.xml", ProjectType::Maven},
      {"pyproject.toml", ProjectType::Pip},
      {"setup.py", ProjectType::Pip},
      {"go.work", ProjectType::Go},
      {"go.mod", ProjectType::Go},
      {"meson.build", ProjectType::Meson},
      {"configure", ProjectType::Autotools},
      {"configure.ac", ProjectType::Autotools},
      {"configure.in", ProjectType::Autotools},
      {"dune-project", ProjectType::Dune},
      {"mix.exs", ProjectType::Mix}};
  const auto present = [&path](const std::string& marker) {
    if (fs::exists(fs::path(path) / marker)) return true;
    if (!fs::is_directory(path)) return false;
    const bool substringRule = marker == ".sln" || marker == ".csproj";
    const std::string upper = marker == ".sln" ? ".SLN" : ".CSPROJ";
    for (const auto& entry : fs::directory_iterator(path)) {
      const std::string name = entry.path().filename().string();
      if (name == marker) return true;
      if (substringRule &&
          (name.find(marker) != std::string::npos || name.find(upper) != std::string::npos)) {
        return true;
      }
    }
    return false;
  };
  for (const auto& [marker, type] : markers) {
    if (marker == "configure") {
      // Only a script that can run counts.
      const fs::path script = fs::path(path) / marker;
      if (fs::is_regular_file(script) && ::access(script.c_str(), X_OK) == 0) return type;
      continue;
    }
    if (!present(marker)) continue;
    // A Gradle file beside a pom.xml is a Maven project.
    if (type == ProjectType::Gradle && present("pom.xml")) return ProjectType::Maven;
    return type;
  }
  return ProjectType::Unknown;
}

}  // namespace quarn::test
