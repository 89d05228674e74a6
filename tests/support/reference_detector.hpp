#pragma once

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
      {".csproj", ProjectType::DotNet},       {".sln", ProjectType::DotNet},
      {"CMakeLists.txt", ProjectType::CMake}, {"Cargo.toml", ProjectType::Cargo},
      {"Makefile", ProjectType::Make},        {"build.gradle", ProjectType::Maven},
      {"package.json", ProjectType::Npm},     {"pom.xml", ProjectType::Maven},
      {"pyproject.toml", ProjectType::Pip},   {"setup.py", ProjectType::Pip}};
  for (const auto& [marker, type] : markers) {
    if (fs::exists(fs::path(path) / marker)) return type;
    if (!fs::is_directory(path)) continue;
    const bool substringRule = marker == ".sln" || marker == ".csproj";
    const std::string upper = marker == ".sln" ? ".SLN" : ".CSPROJ";
    for (const auto& entry : fs::directory_iterator(path)) {
      const std::string name = entry.path().filename().string();
      if (name == marker) return type;
      if (substringRule &&
          (name.find(marker) != std::string::npos || name.find(upper) != std::string::npos)) {
        return type;
      }
    }
  }
  return ProjectType::Unknown;
}

}  // namespace quarn::test
