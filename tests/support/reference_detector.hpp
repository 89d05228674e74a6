#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace quarn::test {

// The detection rule stated as simply as possible: for each marker in order of precedence, the
// existence test, then a fresh listing of the folder compared name by name. The detector must
// decide as this does, however it gets there.
inline std::string referenceDetect(const std::string& path) {
  namespace fs = std::filesystem;
  const std::vector<std::pair<std::string, std::string>> markers = {
      {".csproj", "dotnet"},
      {".sln", "dotnet"},
      {"CMakeLists.txt", "cmake"},
      {"Cargo.toml", "cargo"},
      {"Makefile", "make"},
      {"GNUmakefile", "make"},
      {"makefile", "make"},
      {"build.gradle", "gradle"},
      {"build.gradle.kts", "gradle"},
      {"settings.gradle", "gradle"},
      {"settings.gradle.kts", "gradle"},
      {"package.json", "npm"},
      {"pom.xml", "maven"},
      {"pyproject.toml", "pip"},
      {"setup.py", "pip"},
      {"go.work", "go"},
      {"go.mod", "go"},
      {"meson.build", "meson"},
      {"configure", "autotools"},
      {"configure.ac", "autotools"},
      {"configure.in", "autotools"},
      {"dune-project", "dune"},
      {"mix.exs", "mix"},
      {"build.zig", "zig"},
      {"Package.swift", "swift"},
      {"deno.json", "deno"},
      {"deno.jsonc", "deno"},
      {"MODULE.bazel", "bazel"},
      {"WORKSPACE.bazel", "bazel"},
      {"WORKSPACE", "bazel"},
      {"stack.yaml", "haskell"},
      {"cabal.project", "cabal"},
      {".cabal", "cabal"},
      {"composer.json", "php"},
      {"Gemfile", "ruby"},
      {"build.sbt", "scala"},
      {"pubspec.yaml", "dart"}};
  const auto present = [&path](const std::string& marker) {
    if (fs::exists(fs::path(path) / marker)) return true;
    if (!fs::is_directory(path)) return false;
    const bool substringRule = marker == ".sln" || marker == ".csproj";
    const std::string upper = marker == ".sln" ? ".SLN" : ".CSPROJ";
    const bool suffixRule = marker == ".cabal";
    for (const auto& entry : fs::directory_iterator(path)) {
      const std::string name = entry.path().filename().string();
      if (name == marker) return true;
      if (suffixRule && name.size() >= marker.size() &&
          name.compare(name.size() - marker.size(), marker.size(), marker) == 0) {
        return true;
      }
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
    if (type == "gradle" && present("pom.xml")) return "maven";
    return type;
  }
  return "unknown";
}

}  // namespace quarn::test
