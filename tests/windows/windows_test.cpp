// The Windows platform layer and what rests on it, run under Wine.
#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/data_directory.hpp"
#include "commands/command_runner.hpp"
#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
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
    std::ofstream file(path_ / name, std::ios::binary);
    file << text;
    ASSERT_TRUE(file.flush()) << name;
  }

 private:
  fs::path path_;
};

// Sets an environment variable for the lifetime of the object; an empty value unsets it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old, hadValue_ = true;
    EXPECT_EQ(_putenv_s(name, value), 0) << name;
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() { EXPECT_EQ(_putenv_s(name_.c_str(), hadValue_ ? saved_.c_str() : ""), 0); }

 private:
  std::string name_, saved_;
  bool hadValue_ = false;
};

// The program beside this one that prints each of its arguments as "[argument]" on a line.
std::string printArgs() {
  char self[MAX_PATH];
  const DWORD size = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  EXPECT_TRUE(size > 0 && size < MAX_PATH);
  return (fs::path(std::string(self, size)).parent_path() / "print_args.exe").string();
}

std::string collect(const std::string& command, const platform::EnvironmentOverrides& env = {}) {
  std::string output;
  CommandRunner().run(
      command, [&output](std::string_view chunk) { output += chunk; }, {}, env);
  return output;
}

TEST(Windows, DetectionByMarkers) {
  struct Case {
    std::vector<std::string> files;
    const char* expected;
  };
  const Case cases[] = {
      {{}, "unknown"},
      {{"CMakeLists.txt", "App.sln"}, "dotnet"},
      {{"Makefile", "package.json"}, "make"},
      {{"APP.CSPROJ"}, "dotnet"},
      {{"build.gradle"}, "gradle"},
      {{"sub/CMakeLists.txt"}, "unknown"},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    for (const std::string& file : c.files) dir.write(file);
    const Detection detection = ProjectDetector().detectMarker(dir.str());
    EXPECT_EQ(detection.kind != nullptr ? detection.kind->name : "unknown", c.expected);
  }
  EXPECT_EQ(ProjectDetector().detect("Z:\\no\\such\\folder"), ProjectType::Unknown);
}

TEST(Windows, PlansUseTheWindowsScriptsAndVirtualEnvironment) {
  struct Case {
    std::vector<std::string> files;
    const char* virtualEnv;
    const char* command;
    const char* tool;
  };
  const Case cases[] = {
      {{"pom.xml", "mvnw.cmd"}, "", "mvnw.cmd clean package", "java"},
      {{"pom.xml", "mvnw"}, "", "mvn clean package", "mvn"},
      {{"build.gradle", "gradlew.bat"}, "", "gradlew.bat build", "java"},
      {{"build.gradle"}, "", "gradle build", "gradle"},
      {{"pyproject.toml", ".venv\\Scripts\\pip.exe"},
       "",
       ".venv\\Scripts\\pip.exe install -e .",
       ".venv\\Scripts\\pip.exe"},
      {{"pyproject.toml", ".venv\\Scripts\\pip.exe"}, "C:\\env", "pip install -e .", "pip"},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    for (const std::string& file : c.files) dir.write(file);
    const ScopedEnv env("VIRTUAL_ENV", c.virtualEnv);
    const BuildConfig config = ProjectDetector().getBuildConfig(dir.str());
    EXPECT_EQ(config.buildCommand, c.command) << c.files.back();
    EXPECT_EQ(config.buildTool, c.tool) << c.files.back();
  }
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
  struct Case {
    const char* name;
    const char* found;  // the file found, or null
  };
  const Case cases[] = {
      {"tool", "tool.cmd"}, {"other", "other.exe"}, {"tool.cmd", "tool.cmd"}, {"TOOL", "tool.cmd"},
      {"plain", nullptr},   {"folder", nullptr},    {"tool.exe", nullptr},    {"", nullptr},
  };
  for (const Case& c : cases) {
    const std::string found =
        platform::findExecutableIn(c.name, {dir.str() + "\\missing", dir.str()});
    EXPECT_EQ(platform::isExecutableIn(c.name, {dir.str()}), c.found != nullptr) << c.name;
    if (c.found == nullptr) {
      EXPECT_EQ(found, "") << c.name;
    } else {
      std::error_code error;
      EXPECT_TRUE(fs::equivalent(found, dir / c.found, error)) << c.name << ": " << found;
    }
  }
}

TEST(Windows, AtLeastOneProcessorIsAvailable) { EXPECT_GE(platform::availableProcessors(), 1u); }

TEST(Windows, RunnerReportsStatusesAndRunsInTheGivenFolder) {
  EXPECT_EQ(CommandRunner().run("exit /b 0").status, 0);
  EXPECT_EQ(CommandRunner().run("exit /b 3").status, 3);
  const TempDir dir;
  EXPECT_EQ(CommandRunner().run("echo here>where.txt", {}, dir.str()).status, 0);
  EXPECT_TRUE(fs::exists(dir / "where.txt"));
  for (const OutputCallback& callback :
       {OutputCallback(), OutputCallback([](std::string_view) {})}) {
    const platform::ProcessStatus missing =
        CommandRunner().run("exit /b 0", callback, dir.str() + "\\missing");
    EXPECT_EQ(missing.status, -1);
    EXPECT_NE(missing.startError, "");
    EXPECT_EQ(missing.startError.find_first_of("\r\n"), std::string::npos) << missing.startError;
  }
}

TEST(Windows, RunnerHandsOutLinesWithTextModeLineEnds) {
  std::vector<std::string> chunks;
  CommandRunner().run("echo one&echo two",
                      [&chunks](std::string_view chunk) { chunks.emplace_back(chunk); });
  EXPECT_EQ(chunks, (std::vector<std::string>{"one\n", "two\n"}));
}

TEST(Windows, ACallbackThatThrowsEndsTheWholeJob) {
  const TempDir dir;
  dir.write("forever.cmd", "@echo off\r\n:loop\r\necho y\r\ngoto loop\r\n");
  EXPECT_THROW(
      CommandRunner().run(
          "forever.cmd", [](std::string_view) { throw std::runtime_error("stop"); }, dir.str()),
      std::runtime_error);
}

TEST(Windows, RunnerAddsTheEnvironmentOnTopOfQuarns) {
  const ScopedEnv kept("QUARN_TEST_KEPT", "kept");
  const ScopedEnv replaced("QUARN_TEST_CASE", "old");
  struct Case {
    platform::EnvironmentOverrides environment;
    const char* command;
    const char* output;
  };
  const Case cases[] = {
      {{{"QUARN_TEST_ADDED", "from quarn"}}, "echo %QUARN_TEST_ADDED%", "from quarn\n"},
      {{{"QUARN_TEST_ADDED", "x"}}, "echo %QUARN_TEST_KEPT%", "kept\n"},
      {{{"quarn_test_case", "new"}}, "set QUARN_TEST_CASE", "quarn_test_case=new\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(collect(c.command, c.environment), c.output) << c.command;
}

// Whether this runs under Wine, whose command processor removes carets before it expands
// variables, where cmd.exe expands first.
bool underWine() {
  const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(Windows, QuotedArgumentsReachTheProgramUnchanged) {
  const std::string program = printArgs();
  ASSERT_TRUE(fs::exists(program)) << program;
  ASSERT_EQ(program.find(' '), std::string::npos) << program;
  struct Case {
    const char* argument;
    bool namesAVariable = false;  // Wine's command processor expands it
  };
  const Case cases[] = {
      {"plain-word_1=+./,:@"},
      {"a b"},
      {"tab\there"},
      {"say \"hi\""},
      {"\""},
      {"back\\\"slash"},
      {"two\\\\\"slashes"},
      {"trailing\\"},
      {"trailing space\\"},
      {"C:\\Program Files\\x\\"},
      {"$HOME"},
      {"a;b"},
      {"%PATH%", true},
      {"%PATH:~0,1%", true},
      {"%UNSET_FOR_QUARN_TESTS%"},
      {"%"},
      {"50%"},
      {"%%"},
      {"C:\\100%"},
      {"^"},
      {"a^^b"},
      {"a&b"},
      {"a|b"},
      {"<in"},
      {">out"},
      {"!PATH!"},
      {"(x)"},
      {"\"a b\" & echo pwned"},
      {""},
  };
  for (const Case& c : cases) {
    if (c.namesAVariable && underWine()) {
      std::cout << "note: under Wine, cmd expands " << c.argument << " however it is escaped\n";
      continue;
    }
    EXPECT_EQ(collect(program + " " + platform::quoteArgument(c.argument) + " end"),
              "[" + std::string(c.argument) + "]\n[end]\n")
        << c.argument << " as " << platform::quoteArgument(c.argument);
  }
}

TEST(Windows, CapturesRunInTheGivenFolderWithTheirStatus) {
  const TempDir dir;
  dir.write("to-stderr.cmd", "@echo to-stderr>&2\r\n");
  const std::string program = printArgs();
  struct Case {
    platform::CapturedOutput captured;
    std::string output;
    int status;
  };
  const Case cases[] = {
      {platform::captureShellOutput("cd", dir.str(), std::chrono::seconds(10), 4096, {}),
       dir.str() + "\n", 0},
      {platform::captureShellOutput("to-stderr.cmd", dir.str(), std::chrono::seconds(10), 4096, {}),
       "to-stderr\n", 0},
      {platform::captureShellOutput("exit /b 3", "", std::chrono::seconds(10), 4096, {}), "", 3},
      {platform::captureProgramOutput({program, "a b", "c\"d", ""}, dir.str(),
                                      std::chrono::seconds(10)),
       "[a b]\n[c\"d]\n[]\n", 0},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(c.captured.completed) << c.output;
    EXPECT_EQ(c.captured.output, c.output);
    EXPECT_EQ(c.captured.status, c.status) << c.output;
  }
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

TEST(Windows, ReadsOnlyRegularFilesWithinTheLimit) {
  const TempDir dir;
  dir.write("file.txt", "hello");
  fs::create_directory(dir / "folder");
  using Status = platform::FileText::Status;
  struct Case {
    std::string path;
    std::size_t limit;
    Status status;
    const char* text;
  };
  const Case cases[] = {
      {(dir / "file.txt").string(), 5, Status::Read, "hello"},
      {(dir / "file.txt").string(), 4, Status::TooLarge, ""},
      {(dir / "folder").string(), 100, Status::NotARegularFile, ""},
      {"NUL", 100, Status::NotARegularFile, ""},
      {(dir / "missing.txt").string(), 100, Status::Missing, ""},
      {(dir / "missing" / "file.txt").string(), 100, Status::Missing, ""},
  };
  for (const Case& c : cases) {
    const platform::FileText file = platform::readRegularFile(c.path, c.limit);
    EXPECT_EQ(file.status, c.status) << c.path;
    EXPECT_EQ(file.text, c.text) << c.path;
  }
}

// Makes `link` a link to the folder `target`: a symbolic link, else a junction. Returns whether
// one was made, which Wine cannot do.
bool linkFolder(const fs::path& link, const fs::path& target) {
  // Wine's CreateSymbolicLinkA says it made the link and makes nothing.
  if (::CreateSymbolicLinkA(
          link.string().c_str(), target.string().c_str(),
          SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
    const DWORD attributes = ::GetFileAttributesA(link.string().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      return true;
    }
  }
  if (!::CreateDirectoryA(link.string().c_str(), nullptr)) return false;
  const HANDLE folder =
      ::CreateFileA(link.string().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  // A junction's reparse data: the target as the system names it, then an empty display name.
  const std::wstring name = L"\\??\\" + target.wstring();
  const WORD nameBytes = static_cast<WORD>(name.size() * sizeof(wchar_t));
  std::vector<WORD> data(8 + name.size() + 2, 0);
  *reinterpret_cast<DWORD*>(data.data()) = IO_REPARSE_TAG_MOUNT_POINT;
  data[2] = static_cast<WORD>(8 + nameBytes + 4);  // the bytes after the first eight
  data[5] = nameBytes;
  data[6] = nameBytes + 2;
  std::copy(name.begin(), name.end(), data.begin() + 8);
  DWORD unused = 0;
  const BOOL made = ::DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(),
                                      static_cast<DWORD>(data.size() * sizeof(WORD)), nullptr, 0,
                                      &unused, nullptr);
  EXPECT_TRUE(::CloseHandle(folder));
  if (!made) {
    EXPECT_TRUE(::RemoveDirectoryA(link.string().c_str()));
  }
  return made != 0;
}

TEST(Windows, RemoveTreeTakesReadOnlyEntriesAndNeverFollowsLinks) {
  const TempDir dir;
  const fs::path tree = dir / "tree";
  dir.write("tree/sub/nested/deeper/file.txt");
  dir.write("tree/readonly.txt");
  dir.write("tree/locked/inside.txt");
  dir.write("outside/keep.txt");
  for (const char* name : {"tree\\readonly.txt", "tree\\locked\\inside.txt", "tree\\locked"}) {
    ASSERT_TRUE(::SetFileAttributesA((dir / name).string().c_str(), FILE_ATTRIBUTE_READONLY))
        << name;
  }
  if (linkFolder(tree / "link", dir / "outside")) {
    ASSERT_TRUE(fs::exists(tree / "link" / "keep.txt"));
  } else {
    std::cout << "note: cannot make a link to a folder here (Wine); the tree holds none\n";
  }
  for (const fs::path& path : {tree, dir / "missing"}) {
    const platform::Removal removal = platform::removeTree(path.string());
    EXPECT_TRUE(removal.complete) << path;
    EXPECT_EQ(removal.failedPath, "") << removal.error;
    EXPECT_TRUE(removal.mounts.empty());
    EXPECT_FALSE(removal.stopped);
    EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
  }
  EXPECT_TRUE(fs::exists(dir / "outside" / "keep.txt"));
}

TEST(Windows, DataDirectoryIsUnderAppData) {
  const ScopedEnv trailing("APPDATA", "C:\\Users\\me\\AppData\\Roaming\\");
  EXPECT_EQ(getDataDirectory(), "C:\\Users\\me\\AppData\\Roaming\\Quarn");
  const ScopedEnv plain("APPDATA", "C:\\Roaming");
  EXPECT_EQ(getDataDirectory(), "C:\\Roaming\\Quarn");
}

}  // namespace
}  // namespace quarn
