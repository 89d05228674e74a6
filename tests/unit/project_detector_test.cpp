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
  for (int value : {-1, 1000}) {
    EXPECT_EQ(detector.getTypeName(static_cast<ProjectType>(value)), "Unknown");
    EXPECT_EQ(detector.getConfigForType(static_cast<ProjectType>(value)).buildTool, "unknown");
  }
}

TEST(ProjectDetector, DetectsByMarkersInPrecedenceOrder) {
  struct Case {
    std::vector<std::string> entries;
    ProjectType expected;
  };
  const Case cases[] = {
      {{}, ProjectType::Unknown},
      {{"README.md", "src/"}, ProjectType::Unknown},
      {{"CMakeLists.txt", "Project.sln"}, ProjectType::DotNet},
      {{"CMakeLists.txt", "Cargo.toml", "Makefile", "package.json"}, ProjectType::CMake},
      {{"Cargo.toml", "Makefile"}, ProjectType::Cargo},
      {{"Makefile", "package.json"}, ProjectType::Make},
      {{"package.json", "pom.xml"}, ProjectType::Npm},
      {{"build.gradle", "package.json"}, ProjectType::Gradle},
      {{"build.gradle"}, ProjectType::Gradle},
      {{"settings.gradle.kts", "pom.xml"}, ProjectType::Maven},
      {{"build.gradle.kts", "pom.xml@"}, ProjectType::Maven},
      {{"GNUmakefile", "go.mod"}, ProjectType::Make},
      {{"makefile", "package.json"}, ProjectType::Make},
      {{"go.mod", "meson.build", "configure.ac"}, ProjectType::Go},
      {{"go.work/"}, ProjectType::Go},
      {{"meson.build", "configure!"}, ProjectType::Meson},
      {{"configure", "mix.exs"}, ProjectType::Mix},  // a configure script that cannot run
      {{"configure", "configure.in"}, ProjectType::Autotools},
      {{"configure!", "dune-project"}, ProjectType::Autotools},
      {{"package.json", "go.mod"}, ProjectType::Npm},
      {{"pom.xml"}, ProjectType::Maven},
      {{"pyproject.toml"}, ProjectType::Pip},
      {{"setup.py"}, ProjectType::Pip},
      {{"pyproject.toml", "setup.py"}, ProjectType::Pip},
      {{"APP.CSPROJ"}, ProjectType::DotNet},
      {{"app.csproj.user"}, ProjectType::DotNet},
      {{"Old.SLN"}, ProjectType::DotNet},
      {{"Old.sln.bak"}, ProjectType::DotNet},
      {{"Tools.slnx"}, ProjectType::DotNet},
      {{".sln"}, ProjectType::DotNet},
      {{"Lib.csproj/"}, ProjectType::DotNet},
      {{"App.CsProj"}, ProjectType::Unknown},
      {{"App.Sln", "Makefile.am", "MAKEFILE", "CMakeLists.TXT", "configure.AC"},
       ProjectType::Unknown},
      {{"App.CsProj", "setup.py"}, ProjectType::Pip},
      {{"Makefile/"}, ProjectType::Make},
      {{"Cargo.toml@"}, ProjectType::Cargo},
      {{"package.json|"}, ProjectType::Npm},
      {{"sub/CMakeLists.txt"}, ProjectType::Unknown},
  };
  const ProjectDetector detector;
  for (const Case& c : cases) {
    const TempDir dir;
    std::string listing;
    for (const std::string& entry : c.entries) {
      makeEntry(dir, entry);
      listing += entry + " ";
    }
    EXPECT_EQ(detector.detect(dir.path().string()), c.expected) << "entries: " << listing;
    EXPECT_EQ(detector.detect(dir.path().string() + "/"), c.expected) << "entries: " << listing;
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
                                          "dune-project",     "mix.exs"};
  std::mt19937 random(20261208);
  const ProjectDetector detector;
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
    ASSERT_EQ(detector.detect(dir.path().string()), test::referenceDetect(dir.path().string()))
        << "entries: " << listing;
  }
}

}  // namespace
}  // namespace quarn
