#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project/project_detector.hpp"
#include "support/reference_detector.hpp"
#include "support/sketch.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::makeEntry;
using test::TempDir;

// The name of the kind detection decides for `path`, "unknown" for none.
std::string kindName(const std::string& path) {
  const Detection detection = ProjectDetector().detectMarker(path);
  return detection.kind != nullptr ? std::string(detection.kind->name) : "unknown";
}

TEST(ProjectDetector, ConfigurationAndDisplayNameOfEveryType) {
  struct Row {
    ProjectType type;
    const char* tool;
    const char* command;
    const char* language;
    const char* name;
  };
  const Row rows[] = {
      {ProjectType::CMake, "cmake",
       "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --config Release",
       "C++", "C++ (CMake)"},
      {ProjectType::DotNet, "dotnet", "dotnet build -c Release", "C#", "C# (.NET)"},
      {ProjectType::Cargo, "cargo", "cargo build --release", "Rust", "Rust (Cargo)"},
      {ProjectType::Make, "make", "make", "C", "C (Make)"},
      {ProjectType::Npm, "npm", "npm run build", "JavaScript", "JavaScript (npm)"},
      {ProjectType::Pip, "pip", "pip install -e .", "Python", "Python (pip)"},
      {ProjectType::Maven, "mvn", "mvn clean package", "Java", "Java (Maven)"},
      {ProjectType::Unknown, "unknown", "", "unknown", "Unknown"},
  };
  const ProjectDetector detector;
  for (const Row& row : rows) {
    const BuildConfig config = detector.getConfigForType(row.type);
    EXPECT_EQ(config.projectType, row.type);
    EXPECT_EQ(config.buildTool, row.tool);
    EXPECT_EQ(config.buildCommand, row.command);
    EXPECT_EQ(config.language, row.language);
    EXPECT_EQ(detector.getTypeName(row.type), row.name);
  }
  // Values outside the enumeration behave as Unknown.
  for (int value : {-1, 8, 1000}) {
    EXPECT_EQ(detector.getTypeName(static_cast<ProjectType>(value)), "Unknown");
    EXPECT_EQ(detector.getConfigForType(static_cast<ProjectType>(value)).buildTool, "unknown");
  }
}

TEST(ProjectDetector, DetectsByMarkersInPrecedenceOrder) {
  struct Case {
    std::vector<std::string> entries;
    std::string expected;
    std::string below = {};  // the projects in subfolders, as "path (kind), ..."
  };
  const Case cases[] = {
      {{}, "unknown"},
      {{"README.md", "src/"}, "unknown"},
      {{"CMakeLists.txt", "Project.sln"}, "dotnet"},
      {{"CMakeLists.txt", "Cargo.toml", "Makefile", "package.json"}, "cmake"},
      {{"Cargo.toml", "Makefile"}, "cargo"},
      {{"Makefile", "package.json"}, "make"},
      {{"package.json", "pom.xml"}, "npm"},
      {{"build.gradle", "package.json"}, "gradle"},
      {{"build.gradle"}, "gradle"},
      {{"settings.gradle.kts", "pom.xml"}, "maven"},
      {{"build.gradle.kts", "pom.xml@"}, "maven"},
      {{"GNUmakefile", "go.mod"}, "make"},
      {{"makefile", "package.json"}, "make"},
      {{"go.mod", "meson.build", "configure.ac"}, "go"},
      {{"go.work/"}, "go"},
      {{"meson.build", "configure!"}, "meson"},
      {{"configure", "mix.exs"}, "mix"},  // a configure script that cannot run
      {{"configure", "configure.in"}, "autotools"},
      {{"configure!", "dune-project"}, "autotools"},
      {{"package.json", "go.mod"}, "npm"},
      {{"pom.xml"}, "maven"},
      {{"pyproject.toml"}, "pip"},
      {{"setup.py"}, "pip"},
      {{"pyproject.toml", "setup.py"}, "pip"},
      {{"APP.CSPROJ"}, "dotnet"},
      {{"app.csproj.user"}, "dotnet"},
      {{"Old.SLN"}, "dotnet"},
      {{"Old.sln.bak"}, "dotnet"},
      {{"Tools.slnx"}, "dotnet"},
      {{".sln"}, "dotnet"},
      {{"Lib.csproj/"}, "dotnet"},
      {{"App.CsProj"}, "unknown"},
      {{"App.Sln", "Makefile.am", "MAKEFILE", "CMakeLists.TXT", "configure.AC"}, "unknown"},
      {{"App.CsProj", "setup.py"}, "pip"},
      {{"Makefile/"}, "make"},
      {{"Cargo.toml@"}, "cargo"},
      {{"package.json|"}, "npm"},
      {{"sub/CMakeLists.txt"}, "unknown", "sub (cmake)"},
      // Below a folder: two levels down, not into a project, not into hidden folders, others'
      // code or links; at most five; a folder that cannot be read holds none.
      {{"Src/App.csproj", "Src/Tests/pom.xml", "docs/site/package.json", "README.md"},
       "unknown",
       "Src (dotnet), docs/site (npm)"},
      {{".git/Makefile", "node_modules/a/package.json", "vendor/b/go.mod", "a/b/c/Cargo.toml",
        "link -> a/b/c", "docs/notes.md"},
       "unknown"},
      {{"f/mix.exs", "e/Makefile", "d/x/setup.py", "c/go.mod", "b/Cargo.toml", "a/Cargo.toml"},
       "unknown",
       "a (cargo), b (cargo), c (go), d/x (pip), e (make)"},
      {{"java/build.gradle", "java/pom.xml", "tools/configure!", "etc/configure"},
       "unknown",
       "java (maven), tools (autotools)"},
      {{"a/Makefile -> Makefile", "b/Cargo.toml"}, "unknown", "b (cargo)"},
      {{"Makefile", "lib/CMakeLists.txt"}, "make", "lib (cmake)"},
      {{"Makefile", "build.zig"}, "make"},
      {{"build.zig", "mix.exs"}, "mix"},
      {{"build.zig.zon", "build.zig/"}, "zig"},
      {{"Package.swift", "GNUmakefile"}, "make"},
      {{"Package.swift", "build.zig"}, "zig"},
      {{"Package.swift", "Package.resolved"}, "swift"},
      {{"package.json", "deno.json"}, "npm"},
      {{"deno.jsonc", "Package.swift"}, "swift"},
      {{"deno.lock", "deno.jsonc"}, "deno"},
      {{"WORKSPACE", "Makefile"}, "make"},
      {{"MODULE.bazel", "go.mod"}, "go"},
      {{"WORKSPACE.bazel", "deno.json"}, "deno"},
      {{"BUILD.bazel", "WORKSPACE@"}, "bazel"},
      {{"stack.yaml", "cabal.project", "app.cabal"}, "haskell"},
      {{"app.cabal", "stack.yaml/"}, "haskell"},
      {{"cabal.project", "cabal.project.local"}, "cabal"},
      {{"text-short.cabal"}, "cabal"},
      {{".cabal"}, "cabal"},
      {{"app.cabal/"}, "cabal"},
      {{"App.Cabal", "app.cabal.orig", "stack.yaml.lock"}, "unknown"},
      {{"app.cabal", "GNUmakefile"}, "make"},
      {{"app.cabal", "WORKSPACE"}, "bazel"},
      {{"composer.json", "package.json"}, "npm"},
      {{"composer.json", "stack.yaml"}, "haskell"},
      {{"composer.lock", "composer.json"}, "php"},
      {{"Gemfile", "package.json"}, "npm"},
      {{"Gemfile", "composer.json"}, "php"},
      {{"Gemfile.lock", "Gemfile@"}, "ruby"},
      {{"Rakefile", "gemfile"}, "unknown"},
      {{"build.sbt", "pom.xml"}, "maven"},
      {{"build.sbt", "Gemfile"}, "ruby"},
      {{"build.sbt", "project/"}, "scala"},
      {{"pubspec.yaml", "CMakeLists.txt"}, "cmake"},
      {{"pubspec.yaml", "build.sbt"}, "scala"},
      {{"pubspec.lock", "pubspec.yaml"}, "dart"},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    std::string listing;
    for (const std::string& entry : c.entries) {
      makeEntry(dir, entry);
      listing += entry + " ";
    }
    EXPECT_EQ(kindName(dir.path().string()), c.expected) << "entries: " << listing;
    EXPECT_EQ(kindName(dir.path().string() + "/"), c.expected) << "entries: " << listing;
    std::string below;
    for (const ProjectBelow& project : ProjectDetector().projectsBelow(dir.path().string())) {
      below +=
          (below.empty() ? "" : ", ") + project.path + " (" + std::string(project.kind->name) + ")";
    }
    EXPECT_EQ(below, c.below) << "entries: " << listing;
  }
}

TEST(ProjectDetector, MissingFolderAndFileAreUnknownNotErrors) {
  const TempDir dir;
  const fs::path file = dir.write("Makefile");
  const ProjectDetector detector;
  EXPECT_EQ(detector.detect((dir / "missing").string()), ProjectType::Unknown);
  EXPECT_EQ(detector.detect((dir / "missing/deeper").string()), ProjectType::Unknown);
  EXPECT_EQ(detector.detect(file.string()), ProjectType::Unknown);
  const BuildConfig config = detector.getBuildConfig((dir / "missing").string());
  EXPECT_EQ(config.projectType, ProjectType::Unknown);
  EXPECT_EQ(config.buildCommand, "");
  EXPECT_EQ(detector.detect(dir.path().string()), ProjectType::Make);
}

TEST(ProjectDetector, FailuresOtherThanNotFoundAreErrorsNamingThePath) {
  const TempDir dir;
  fs::create_directory_symlink(dir / "loop", dir / "loop");
  const ProjectDetector detector;
  try {
    detector.detect((dir / "loop").string());
    FAIL() << "a symlink loop must not pass as a folder without markers";
  } catch (const fs::filesystem_error& error) {
    EXPECT_NE(std::string(error.what()).find("loop"), std::string::npos) << error.what();
  }
}

TEST(ProjectDetector, OneListingDecidesAsAListingPerMarkerWould) {
  const std::vector<std::string> names = {".csproj",          ".sln",
                                          "CMakeLists.txt",   "Cargo.toml",
                                          "Makefile",         "build.gradle",
                                          "package.json",     "pom.xml",
                                          "pyproject.toml",   "setup.py",
                                          "App.csproj",       "APP.CSPROJ",
                                          "App.CsProj",       "Old.sln.bak",
                                          "Old.SLN",          "Tools.slnx",
                                          "App.Sln",          "Makefile.am",
                                          "makefile",         "cmakelists.txt",
                                          "Cargo.lock",       "package.json.bak",
                                          "pom.xml~",         "setup.cfg",
                                          "README.md",        "src",
                                          "x.csproj.user",    "GNUmakefile",
                                          "build.gradle.kts", "settings.gradle",
                                          "go.mod",           "go.work",
                                          "meson.build",      "configure",
                                          "configure.ac",     "configure.in",
                                          "dune-project",     "mix.exs",
                                          "build.zig",        "build.zig.zon",
                                          "Package.swift",    "Package.resolved",
                                          "deno.json",        "deno.jsonc",
                                          "deno.lock",        "MODULE.bazel",
                                          "WORKSPACE",        "WORKSPACE.bazel",
                                          "BUILD.bazel",      "stack.yaml",
                                          "stack.yaml.lock",  "cabal.project",
                                          "lib.cabal",        ".cabal",
                                          "LIB.CABAL",        "lib.cabal.orig",
                                          "composer.json",    "composer.lock",
                                          "Gemfile",          "Gemfile.lock",
                                          "Rakefile",         "build.sbt",
                                          "pubspec.yaml",     "pubspec.lock"};
  std::mt19937 random(20261208);
  for (int round = 0; round < 400; ++round) {
    const TempDir dir;
    std::string listing;
    const int count = static_cast<int>(random() % 6);
    for (int i = 0; i < count; ++i) {
      const std::string& name = names[random() % names.size()];
      if (fs::exists(fs::symlink_status(dir / name))) continue;
      const std::string sketch = name + std::string(1, "/@|.!"[random() % 5]);
      makeEntry(dir, sketch.back() == '.' ? name : sketch);
      listing += sketch + " ";
    }
    ASSERT_EQ(kindName(dir.path().string()), test::referenceDetect(dir.path().string()))
        << "entries: " << listing;
  }
}

}  // namespace
}  // namespace quarn
