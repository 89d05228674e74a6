// The Windows platform layer and what rests on it, run under Wine.
#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/data_directory.hpp"
#include "commands/command_runner.hpp"
#include "platform/environment.hpp"
#include "project/project_detector.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;

class TempDir {
 public:
  TempDir()
      : path_(fs::temp_directory_path() /
              ("quarn-test-" + std::to_string(std::random_device()()))) {
    fs::create_directories(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  std::string str() const { return path_.string(); }
  void write(const std::string& name, const std::string& text = "x") const {
    fs::create_directories((path_ / name).parent_path());
    std::ofstream(path_ / name, std::ios::binary) << text;
  }

 private:
  fs::path path_;
};

// Sets an environment variable for the lifetime of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old, hadValue_ = true;
    _putenv_s(name, value);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() { _putenv_s(name_.c_str(), hadValue_ ? saved_.c_str() : ""); }

 private:
  std::string name_, saved_;
  bool hadValue_ = false;
};

TEST(Windows, DetectionByMarkers) {
  struct Case {
    std::vector<std::string> files;
    ProjectType expected;
  };
  const Case cases[] = {
      {{}, ProjectType::Unknown},
      {{"CMakeLists.txt", "App.sln"}, ProjectType::DotNet},
      {{"Makefile", "package.json"}, ProjectType::Make},
      {{"APP.CSPROJ"}, ProjectType::DotNet},
      {{"build.gradle"}, ProjectType::Maven},
      {{"sub/CMakeLists.txt"}, ProjectType::Unknown},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    for (const std::string& file : c.files) dir.write(file);
    EXPECT_EQ(ProjectDetector().detect(dir.str()), c.expected);
  }
  EXPECT_EQ(ProjectDetector().detect("Z:\\no\\such\\folder"), ProjectType::Unknown);
}

TEST(Windows, InstallGuidesAreTheWindowsOnes) {
  const ToolRegistry registry;
  EXPECT_EQ(registry.getInstallGuide("cmake"), "choco install cmake");
  EXPECT_EQ(registry.getInstallGuide("pip"), "choco install python");
  EXPECT_EQ(registry.getInstallGuide("CMake"), "Tool not found in registry");
}

TEST(Windows, ProgramsAreFoundWithTheExtensionsOfPathext) {
  const TempDir dir;
  dir.write("tool.cmd", "@exit /b 0\r\n");
  dir.write("other.exe");
  dir.write("plain");
  fs::create_directory(dir / "folder.cmd");
  const std::vector<std::string> dirs{dir.str()};
  EXPECT_TRUE(platform::isExecutableIn("tool", dirs));
  EXPECT_TRUE(platform::isExecutableIn("other", dirs));
  EXPECT_FALSE(platform::isExecutableIn("plain", dirs));
  EXPECT_FALSE(platform::isExecutableIn("folder", dirs));
  EXPECT_FALSE(platform::isExecutableIn("tool", {dir.str() + "\\missing"}));
}

TEST(Windows, RunnerReportsStatusesAndRunsInTheGivenFolder) {
  EXPECT_EQ(CommandRunner().run("exit /b 0"), 0);
  EXPECT_EQ(CommandRunner().run("exit /b 3"), 3);
  const TempDir dir;
  EXPECT_EQ(CommandRunner().run("echo here>where.txt", {}, dir.str()), 0);
  EXPECT_TRUE(fs::exists(dir / "where.txt"));
  EXPECT_EQ(CommandRunner().run("exit /b 0", {}, dir.str() + "\\missing"), -1);
}

TEST(Windows, RunnerHandsOutLinesWithTextModeLineEnds) {
  std::vector<std::string> chunks;
  CommandRunner().run("echo one&echo two",
                      [&chunks](std::string_view chunk) { chunks.emplace_back(chunk); });
  EXPECT_EQ(chunks, (std::vector<std::string>{"one\n", "two\n"}));
}

TEST(Windows, VersionProbeReadsTheFirstLineAndGivesUpOnAHang) {
  const TempDir dir;
  dir.write("cmake.cmd", "@echo cmake version 3.25.1\r\n@echo second line\r\n");
  dir.write("mvn.cmd", "@echo off\r\n:loop\r\ngoto loop\r\n");
  const std::string path = dir.str() + ";" + std::getenv("PATH");
  const ScopedEnv env("PATH", path.c_str());
  const ToolRegistry registry;
  EXPECT_TRUE(registry.isInstalled("cmake"));
  EXPECT_EQ(registry.getVersion("cmake"), "cmake version 3.25.1");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(registry.getVersion("mvn"), "unknown");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
}

TEST(Windows, DataDirectoryIsUnderAppData) {
  const ScopedEnv trailing("APPDATA", "C:\\Users\\me\\AppData\\Roaming\\");
  EXPECT_EQ(getDataDirectory(), "C:\\Users\\me\\AppData\\Roaming\\Quarn");
  const ScopedEnv plain("APPDATA", "C:\\Roaming");
  EXPECT_EQ(getDataDirectory(), "C:\\Roaming\\Quarn");
}

}  // namespace
}  // namespace quarn
