// The Windows platform layer and what rests on it, run under Wine.
#include <windows.h>
#include <winioctl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
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
#include "platform/system_win32.hpp"
#include "project/project_detector.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;

// Names quarn must pass to the system as they are, whatever the ANSI code page (Wine's is 1252).
const std::string kUnicodeName =
    "\u041f\u0440\u043e\u0435\u043a\u0442 \u9879\u76ee";  // Проект 项目

// A relative path of five folders that takes any folder it is put in past MAX_PATH.
std::string deepFolder() {
  std::string path;
  for (char c = 'a'; c < 'f'; ++c) path += (path.empty() ? "" : "\\") + std::string(60, c);
  return path;
}

// Makes the folder `path` (UTF-8) and those above it that are missing, at any length: by the
// \\?\ form, which std::filesystem does not take.
void makeFolders(const std::string& path) {
  std::wstring wide = platform::systemPath(path);
  for (wchar_t& c : wide) c = c == L'/' ? L'\\' : c;
  const std::size_t colon = wide.find(L':');
  for (std::size_t i = colon == std::wstring::npos ? 0 : colon + 2; i <= wide.size(); ++i) {
    if (i < wide.size() && wide[i] != L'\\') continue;
    ASSERT_TRUE(::CreateDirectoryW(wide.substr(0, i).c_str(), nullptr) ||
                ::GetLastError() == ERROR_ALREADY_EXISTS)
        << path;
  }
}

void writeFile(const std::string& path, const std::string& text) {
  const std::size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) makeFolders(path.substr(0, slash));
  const HANDLE file = ::CreateFileW(platform::systemPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  EXPECT_TRUE(::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  EXPECT_TRUE(::CloseHandle(file));
}

bool existsAt(const std::string& path) {
  return ::GetFileAttributesW(platform::systemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Whether the two paths name the same file, at any length.
bool sameFile(const std::string& a, const std::string& b) {
  BY_HANDLE_FILE_INFORMATION info[2]{};
  const std::string* paths[] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    const HANDLE file = ::CreateFileW(platform::systemPath(*paths[i]).c_str(), 0,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL known = ::GetFileInformationByHandle(file, &info[i]);
    EXPECT_TRUE(::CloseHandle(file));
    if (!known) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh &&
         info[0].nFileIndexLow == info[1].nFileIndexLow;
}

// Names in the tests are UTF-8, as quarn's are: paths are made with u8path.
class TempDir {
 public:
  TempDir()
      : path_(fs::temp_directory_path() /
              ("quarn-test-" + std::to_string(std::random_device()()))) {
    fs::create_directories(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  // std::filesystem stops at MAX_PATH where the system's long path switch is off.
  ~TempDir() { platform::removeTree(str()); }
  fs::path operator/(const std::string& name) const { return path_ / fs::u8path(name); }
  std::string str() const { return path_.u8string(); }
  std::string str(const std::string& name) const { return (*this / name).u8string(); }
  void write(const std::string& name, const std::string& text = "x") const {
    writeFile(str(name), text);
  }

 private:
  fs::path path_;
};

// Sets an environment variable for the lifetime of the object; an empty value unsets it.
// Values are UTF-8 and set wide, so that the ANSI code page does not touch them.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(platform::toWide(name)) {
    if (const wchar_t* old = _wgetenv(name_.c_str())) saved_ = old, hadValue_ = true;
    EXPECT_EQ(_wputenv_s(name_.c_str(), platform::toWide(value).c_str()), 0) << name;
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv() { EXPECT_EQ(_wputenv_s(name_.c_str(), hadValue_ ? saved_.c_str() : L""), 0); }

 private:
  std::wstring name_, saved_;
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
    std::string folder;  // the project's, in the temporary folder
  };
  const std::string deep = deepFolder();
  const Case cases[] = {
      {{}, "unknown", ""},
      {{"CMakeLists.txt", "App.sln"}, "dotnet", ""},
      {{"Makefile", "package.json"}, "make", ""},
      {{"APP.CSPROJ"}, "dotnet", ""},
      {{"build.gradle"}, "gradle", ""},
      {{"sub/CMakeLists.txt"}, "unknown", ""},
      {{kUnicodeName + "/Makefile"}, "make", kUnicodeName},
      {{kUnicodeName + "/" + kUnicodeName + ".csproj"}, "dotnet", kUnicodeName},
      {{deep + "\\Cargo.toml"}, "cargo", deep},
      {{deep + "\\App.sln"}, "dotnet", deep},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    for (const std::string& file : c.files) dir.write(file);
    const Detection detection =
        ProjectDetector().detectMarker(c.folder.empty() ? dir.str() : dir.str(c.folder));
    EXPECT_EQ(detection.kind != nullptr ? detection.kind->name : "unknown", c.expected)
        << c.files.back();
  }
  EXPECT_EQ(ProjectDetector().detect("Z:\\no\\such\\folder"), ProjectType::Unknown);
}

TEST(Windows, PlansUseTheWindowsScriptsAndVirtualEnvironment) {
  struct Case {
    std::vector<std::string> files;
    const char* virtualEnv;
    const char* command;
    const char* tool;
    std::string folder = "";  // the project's, in the temporary folder
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
      {{kUnicodeName + "\\build.gradle", kUnicodeName + "\\gradlew.bat"},
       "",
       "gradlew.bat build",
       "java",
       kUnicodeName},
      {{deepFolder() + "\\pom.xml", deepFolder() + "\\mvnw.cmd"},
       "",
       "mvnw.cmd clean package",
       "java",
       deepFolder()},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    for (const std::string& file : c.files) dir.write(file);
    const ScopedEnv env("VIRTUAL_ENV", c.virtualEnv);
    const BuildConfig config =
        ProjectDetector().getBuildConfig(c.folder.empty() ? dir.str() : dir.str(c.folder));
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
  dir.write(kUnicodeName + ".cmd");
  const std::string deep = deepFolder();
  dir.write(deep + "\\deep-tool.cmd");
  struct Case {
    std::string name;
    std::string found;  // the file found, or empty
  };
  const Case cases[] = {
      {"tool", "tool.cmd"},
      {"other", "other.exe"},
      {"tool.cmd", "tool.cmd"},
      {"TOOL", "tool.cmd"},
      {"plain", ""},
      {"folder", ""},
      {"tool.exe", ""},
      {"", ""},
      {kUnicodeName, kUnicodeName + ".cmd"},
      {"deep-tool", deep + "\\deep-tool.cmd"},
  };
  const std::vector<std::string> directories{dir.str("missing"), dir.str(), dir.str(deep)};
  for (const Case& c : cases) {
    const std::string found = platform::findExecutableIn(c.name, directories);
    EXPECT_EQ(platform::isExecutableIn(c.name, directories), !c.found.empty()) << c.name;
    if (c.found.empty()) {
      EXPECT_EQ(found, "") << c.name;
    } else {
      EXPECT_TRUE(sameFile(found, dir.str(c.found))) << c.name << ": " << found;
    }
  }
}

TEST(Windows, AtLeastOneProcessorIsAvailable) { EXPECT_GE(platform::availableProcessors(), 1u); }

TEST(Windows, RunnerReportsStatusesAndRunsInTheGivenFolder) {
  EXPECT_EQ(CommandRunner().run("exit /b 0").status, 0);
  EXPECT_EQ(CommandRunner().run("exit /b 3").status, 3);
  const TempDir dir;
  // A folder past MAX_PATH, which CreateProcess refuses, is given by its short name.
  for (const std::string& folder : {std::string(), kUnicodeName, deepFolder()}) {
    const std::string where = folder.empty() ? dir.str() : dir.str(folder);
    makeFolders(where);
    EXPECT_EQ(CommandRunner().run("echo here>where.txt", {}, where).status, 0) << folder;
    EXPECT_TRUE(existsAt(where + "\\where.txt")) << folder;
  }
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
    std::string command;
    std::string output;
  };
  const Case cases[] = {
      {{{"QUARN_TEST_ADDED", "from quarn"}}, "echo %QUARN_TEST_ADDED%", "from quarn\n"},
      {{{"QUARN_TEST_ADDED", "x"}}, "echo %QUARN_TEST_KEPT%", "kept\n"},
      {{{"quarn_test_case", "new"}}, "set QUARN_TEST_CASE", "quarn_test_case=new\n"},
      // cmd's echo writes in a code page; the program shows what reached it.
      {{{"QUARN_TEST_ADDED", kUnicodeName}},
       printArgs() + " %QUARN_TEST_ADDED%",
       "[\u041f\u0440\u043e\u0435\u043a\u0442]\n[\u9879\u76ee]\n"},
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
      {"\u041f\u0440\u043e\u0435\u043a\u0442 \u9879\u76ee \U0001F600"},
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
  // A program named relative to its working folder, and working folders the ANSI code page
  // cannot spell or MAX_PATH cannot hold.
  const std::string unicode = dir.str(kUnicodeName);
  const std::string deep = dir.str(deepFolder());
  makeFolders(deep);
  makeFolders(unicode);
  ASSERT_TRUE(::CopyFileW(platform::toWide(program).c_str(),
                          platform::toWide(unicode + "\\print_args.exe").c_str(), TRUE));
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
      {platform::captureProgramOutput({"print_args.exe", kUnicodeName}, unicode,
                                      std::chrono::seconds(10)),
       "[" + kUnicodeName + "]\n", 0},
      {platform::captureProgramOutput({program, "deep"}, deep, std::chrono::seconds(10)),
       "[deep]\n", 0},
      {platform::captureShellOutput(program + " shell", deep, std::chrono::seconds(10), 4096, {}),
       "[shell]\n", 0},
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
  const std::string unicode = kUnicodeName + "\\" + kUnicodeName + ".txt";
  const std::string deep = deepFolder();
  dir.write(unicode, "hello");
  dir.write(deep + "\\file.txt", "hello");
  using Status = platform::FileText::Status;
  using Type = fs::file_type;
  struct Case {
    std::string path;
    std::size_t limit;
    Status status;
    const char* text;
    Type type;  // as platform::fileType tells it
  };
  const Case cases[] = {
      {(dir / "file.txt").string(), 5, Status::Read, "hello", Type::regular},
      {(dir / "file.txt").string(), 4, Status::TooLarge, "", Type::regular},
      {(dir / "folder").string(), 100, Status::NotARegularFile, "", Type::directory},
      {"NUL", 100, Status::NotARegularFile, "", Type::character},
      {(dir / "missing.txt").string(), 100, Status::Missing, "", Type::not_found},
      {(dir / "missing" / "file.txt").string(), 100, Status::Missing, "", Type::not_found},
      {(dir / "file.txt" / "below").string(), 100, Status::Missing, "", Type::not_found},
      {dir.str(unicode), 5, Status::Read, "hello", Type::regular},
      {dir.str(deep + "\\file.txt"), 5, Status::Read, "hello", Type::regular},
      {dir.str(deep), 100, Status::NotARegularFile, "", Type::directory},
      {dir.str(deep + "\\missing.txt"), 100, Status::Missing, "", Type::not_found},
  };
  for (const Case& c : cases) {
    const platform::FileText file = platform::readRegularFile(c.path, c.limit);
    EXPECT_EQ(file.status, c.status) << c.path;
    EXPECT_EQ(file.text, c.text) << c.path;
    for (const bool followLinks : {true, false}) {
      std::error_code error;
      EXPECT_EQ(platform::fileType(c.path, followLinks, error), c.type) << c.path;
      EXPECT_FALSE(error) << c.path << ": " << error.message();
    }
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
  const std::string unicode = "tree\\" + kUnicodeName;
  const std::string deep = deepFolder();
  dir.write("tree/sub/nested/deeper/file.txt");
  dir.write("tree/readonly.txt");
  dir.write("tree/locked/inside.txt");
  dir.write(unicode + "\\" + kUnicodeName + ".txt");
  dir.write("tree\\" + deep + "\\file.txt");
  dir.write(deep + "\\build\\" + deep + "\\file.txt");
  dir.write("outside/keep.txt");
  for (const std::string& name :
       {std::string("tree\\readonly.txt"), std::string("tree\\locked\\inside.txt"),
        std::string("tree\\locked"), unicode + "\\" + kUnicodeName + ".txt",
        "tree\\" + deep + "\\file.txt"}) {
    ASSERT_TRUE(
        ::SetFileAttributesW(platform::systemPath(dir.str(name)).c_str(), FILE_ATTRIBUTE_READONLY))
        << name;
  }
  if (linkFolder(tree / "link", dir / "outside")) {
    ASSERT_TRUE(fs::exists(tree / "link" / "keep.txt"));
  } else {
    std::cout << "note: cannot make a link to a folder here (Wine); the tree holds none\n";
  }
  // The last tree's own path is past MAX_PATH.
  for (const std::string& path : {dir.str("tree"), dir.str("missing"), dir.str(deep + "\\build")}) {
    const platform::Removal removal = platform::removeTree(path);
    EXPECT_TRUE(removal.complete) << path;
    EXPECT_EQ(removal.failedPath, "") << removal.error;
    EXPECT_TRUE(removal.mounts.empty());
    EXPECT_FALSE(removal.stopped);
    EXPECT_FALSE(existsAt(path)) << path;
  }
  EXPECT_TRUE(existsAt(dir.str(deep)));
  EXPECT_TRUE(fs::exists(dir / "outside" / "keep.txt"));
}

TEST(Windows, DataDirectoryIsUnderAppData) {
  const ScopedEnv trailing("APPDATA", "C:\\Users\\me\\AppData\\Roaming\\");
  EXPECT_EQ(getDataDirectory(), "C:\\Users\\me\\AppData\\Roaming\\Quarn");
  const ScopedEnv plain("APPDATA", "C:\\Roaming");
  EXPECT_EQ(getDataDirectory(), "C:\\Roaming\\Quarn");
  // A user's name in another script than the ANSI code page's is in every path of the profile.
  const TempDir dir;
  const ScopedEnv user("APPDATA", dir.str(kUnicodeName));
  EXPECT_EQ(getDataDirectory(), dir.str(kUnicodeName + "\\Quarn"));
  EXPECT_TRUE(ensureDataDirectory());
  EXPECT_TRUE(existsAt(dir.str(kUnicodeName + "\\Quarn")));
}

}  // namespace
}  // namespace quarn
