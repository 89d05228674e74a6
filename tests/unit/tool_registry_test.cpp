#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.hpp"
#include "support/test_support.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::FakeTools;
using test::ScopedEnv;
using test::TempDir;

TEST(ToolRegistry, HoldsTheSevenToolsWithVersionCommandAndThreeGuides) {
  using Guides = std::map<std::string, std::string>;
  const std::map<std::string, Guides> expected = {
      {"cmake",
       {{"windows", "choco install cmake"},
        {"macos", "brew install cmake"},
        {"linux", "sudo apt install cmake"}}},
      {"dotnet",
       {{"windows", "choco install dotnet-sdk"},
        {"macos", "brew install dotnet"},
        {"linux", "sudo apt install dotnet-sdk-8.0"}}},
      {"cargo",
       {{"windows", "choco install rustup.install"},
        {"macos", "brew install rust"},
        {"linux", "curl --proto '=https' --tlsv1.2 -sSf https://sh.rustup.rs | sh"}}},
      {"make",
       {{"windows", "choco install make"},
        {"macos", "brew install make"},
        {"linux", "sudo apt install build-essential"}}},
      {"npm",
       {{"windows", "choco install nodejs"},
        {"macos", "brew install node"},
        {"linux", "sudo apt install nodejs npm"}}},
      {"pip",
       {{"windows", "choco install python"},
        {"macos", "brew install python"},
        {"linux", "sudo apt install python3-pip"}}},
      {"mvn",
       {{"windows", "choco install maven"},
        {"macos", "brew install maven"},
        {"linux", "sudo apt install maven"}}},
  };
  const ToolRegistry registry;
  for (const auto& [name, guides] : expected) {
    const ToolInfo* info = registry.find(name);
    ASSERT_NE(info, nullptr) << name;
    EXPECT_EQ(info->name, name);
    EXPECT_EQ(info->versionCommand, name + " --version");
    EXPECT_EQ(info->installGuides, guides) << name;
    EXPECT_EQ(registry.getInstallGuide(name), guides.at(platform::kOsKey)) << name;
  }
  // The tools the newer kinds need: a guide for every system, and a version command of their own.
  for (const char* name : {"gradle", "java", "go", "meson", "ninja", "autoreconf", "pnpm", "yarn",
                           "bun", "uv", "poetry", "dune", "mix"}) {
    const ToolInfo* info = registry.find(name);
    ASSERT_NE(info, nullptr) << name;
    EXPECT_EQ(info->versionCommand.rfind(std::string(name) + " ", 0), 0u) << name;
    for (const char* os : {"windows", "macos", "linux"}) {
      EXPECT_FALSE(info->installGuides.at(os).empty()) << name << " " << os;
    }
  }
  for (const char* stranger : {"CMake", "unknown", "", "Gradle", "cmake "}) {
    EXPECT_EQ(registry.find(stranger), nullptr) << stranger;
    EXPECT_EQ(registry.getInstallGuide(stranger), "Tool not found in registry") << stranger;
  }
}

TEST(SearchPath, SplitsPathLikeTheShell) {
  const std::vector<std::pair<std::optional<std::string>, std::vector<std::string>>> cases = {
      {"/a:/b", {"/a", "/b"}},
      {"", {""}},
      {"/a::/b:", {"/a", "", "/b", ""}},
      {":/a", {"", "/a"}},
  };
  for (const auto& [value, expected] : cases) {
    const ScopedEnv path("PATH", value);
    EXPECT_EQ(platform::searchPathDirectories(), expected) << *value;
  }
  const ScopedEnv unset("PATH", std::nullopt);
  const std::vector<std::string> defaults = platform::searchPathDirectories();
  EXPECT_NE(std::find(defaults.begin(), defaults.end(), "/bin"), defaults.end());
}

TEST(SearchPath, FindsOnlyExecutableRegularFiles) {
  const FakeTools tools;
  tools.add("tool", "true");
  tools.add("plain", "true");
  fs::permissions(tools.dir() / "plain", fs::perms::owner_read | fs::perms::owner_write);
  fs::create_directory(tools.dir() / "folder");
  fs::create_symlink(tools.dir() / "tool", tools.dir() / "linked");
  fs::create_symlink(tools.dir() / "absent", tools.dir() / "broken");
  fs::create_directory_symlink(tools.dir() / "folder", tools.dir() / "folderlink");
  const TempDir other;
  const std::string here = tools.dir().string();
  const std::string elsewhere = other.path().string();
  struct Case {
    const char* name;
    std::vector<std::string> dirs;
    bool found;
  };
  const Case cases[] = {
      {"tool", {here}, true},    {"tool", {elsewhere, here}, true}, {"tool", {elsewhere}, false},
      {"tool", {}, false},       {"linked", {here}, true},          {"plain", {here}, false},
      {"folder", {here}, false}, {"broken", {here}, false},         {"folderlink", {here}, false},
      {"", {here}, false},       {"tool", {here + "/"}, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::isExecutableIn(c.name, c.dirs), c.found) << c.name;
  }
  // An empty entry is the current directory.
  const fs::path saved = fs::current_path();
  fs::current_path(tools.dir());
  EXPECT_TRUE(platform::isExecutableIn("tool", {elsewhere, ""}));
  fs::current_path(other.path());
  EXPECT_FALSE(platform::isExecutableIn("tool", {""}));
  fs::current_path(saved);
}

TEST(ToolRegistry, IsInstalledOnlyForRegisteredToolsOnThePath) {
  const FakeTools tools;
  for (const char* name : {"cmake", "CMake", "unknown", "gradle"}) tools.add(name, "true");
  const ScopedEnv path("PATH", tools.searchPath(""));
  const ToolRegistry registry;
  EXPECT_TRUE(registry.isInstalled("cmake"));
  EXPECT_FALSE(registry.isInstalled("make"));
  EXPECT_FALSE(registry.isInstalled("CMake"));
  EXPECT_FALSE(registry.isInstalled("unknown"));
  EXPECT_EQ(registry.getMissingTools({}), std::vector<std::string>{});
  EXPECT_EQ(registry.getMissingTools({"cmake", "unknown"}), std::vector<std::string>{"unknown"});
  EXPECT_EQ(registry.getMissingTools({"make", "cmake", "npm", "make"}),
            (std::vector<std::string>{"make", "npm", "make"}));
}

TEST(ToolRegistry, VersionIsTheFirstLineOfEitherStream) {
  const std::string longLine(300, 'v');
  struct Case {
    const char* script;
    std::string expected;
    const char* tool = "cmake";
  };
  const Case cases[] = {
      {"printf '\\033[1mApache Maven 3.8.7\\033[m\\n'", "Apache Maven 3.8.7"},  // colours go
      {"printf 'a\\033]0;title\\007b\\n'",
       "a\x1b]0;title\x07"
       "b"},  // other controls stay
      {"echo; echo '-----'; echo 'Gradle 8.5'; echo '-----'", "Gradle 8.5", "gradle"},
      {"echo 'Erlang/OTP 25'; echo; echo 'Mix 1.14.0'", "Mix 1.14.0", "mix"},
      {"echo 'no such line'", "no such line", "mix"},
      {"echo 'Downloading Bazel 8.0.0'; echo 'Bazelisk version: v1.25.0'",
       "Bazelisk version: v1.25.0", "bazelisk"},
      {"echo 'Composer is operating slower than normal because you have Xdebug enabled.'; "
       "echo 'Composer version 2.5.5 2023-03-21 11:50:05'",
       "Composer version 2.5.5 2023-03-21 11:50:05", "composer"},
      {"echo '  Woah! You appear to be trying to run flutter as the root user.'; "
       "echo 'Flutter 3.24.0 - channel stable'",
       "Flutter 3.24.0 - channel stable", "flutter"},
      {"echo 'cmake version 3.25.1'; echo; echo 'CMake suite maintained'", "cmake version 3.25.1"},
      {"printf '%s\\n' \"$(printf '%300s' '' | tr ' ' v)\"; echo second", longLine},
      {"printf 'no line feed'", "no line feed"},
      {"true", ""},
      {"echo; echo second", ""},
      {"echo 'only on stderr' >&2", "only on stderr"},
      {"echo 'failing but talking'; exit 3", "failing but talking"},
      {"printf 'nul\\000inside\\nrest'", std::string("nul\0inside", 10)},
      {"read line; echo \"read:$line.\"", "read:."},  // standard input is empty, not the terminal
  };
  const FakeTools tools;
  const ScopedEnv path("PATH", tools.searchPath());
  const ToolRegistry registry;
  for (const Case& c : cases) {
    tools.add(c.tool, c.script);
    EXPECT_EQ(registry.getVersion(c.tool), c.expected) << c.script;
  }
}

TEST(ToolRegistry, VersionOfUnregisteredOrMissingTools) {
  const FakeTools tools;
  const TempDir scratch;
  const fs::path ran = scratch / "ran";
  tools.add("unknown", "touch '" + ran.string() + "'");
  tools.add("CMake", "touch '" + ran.string() + "'");
  const ScopedEnv path("PATH", tools.searchPath());
  const ToolRegistry registry;
  EXPECT_EQ(registry.getVersion("unknown"), "unknown");
  EXPECT_EQ(registry.getVersion("CMake"), "unknown");
  EXPECT_FALSE(fs::exists(ran));
  // A registered tool that is absent: the shell's complaint is its first line.
  EXPECT_NE(registry.getVersion("dotnet").find("not found"), std::string::npos);
}

TEST(ToolRegistry, VersionCommandIsEndedOnceItsFirstLineIsIn) {
  const FakeTools tools;
  tools.add("mvn", "echo 'Apache Maven 3.8.7'; sleep 300");
  const ScopedEnv path("PATH", tools.searchPath());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ToolRegistry().getVersion("mvn"), "Apache Maven 3.8.7");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(ToolRegistry, HangingVersionCommandIsKilledWithEverythingItStarted) {
  const FakeTools tools;
  const TempDir scratch;
  const fs::path pids = scratch / "pids";
  tools.add("mvn",
            "sleep 300 & echo $! > '" + pids.string() + "'; printf 'no line feed yet'; sleep 300");
  const ScopedEnv path("PATH", tools.searchPath());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ToolRegistry(std::chrono::milliseconds(300)).getVersion("mvn"), "unknown");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_LT(took, std::chrono::seconds(5));
  // Not the whole 300 ms: the clocks of quarn and the test differ slightly.
  EXPECT_GE(took, std::chrono::milliseconds(250));
  EXPECT_TRUE(test::processEnds(pids)) << "the background child survived";
}

}  // namespace
}  // namespace quarn
