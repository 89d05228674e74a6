// quarn on the bundled examples with the real build and test tools of this machine. A tool that
// is not installed skips its cases with a message.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "platform/network.hpp"
#include "support/real_tools.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::copyExample;
using test::realToolOptions;
using test::RunOptions;
using test::runQuarn;
using test::TempDir;
using test::toolAvailable;

struct Example {
  std::string kind;  // folder under examples/, also the tool's name but for maven
  std::string tool;
  std::string artefact;   // what a build leaves, relative to the project
  std::string breakFile;  // a file that a syntax error is written into; empty: the failure of
  std::string broken;     // a slow build proves nothing a faster one does not
  bool twice = false;     // the second build, in a folder built already, must work too
};

const Example kBuildable[] = {
    {"cmake", "cmake", "build/hello", "main.cpp", "int main( {\n"},
    {"make", "make", "hello", "hello.c", "int main( {\n"},
    {"cargo", "cargo", "target/release/hello", "src/main.rs", "fn main( {\n"},
    {"npm", "npm", "dist/index.js", "build.js", "const = ;\n"},
    {"go", "go", "hello", "main.go", "package main\nfunc main( {\n"},
    {"meson", "meson", "build/hello", "hello.c", "int main( {\n", true},
    {"autotools", "autoreconf", "hello", "", ""},
    // Fresh clones: the dependencies are installed first, as each manager does for a checkout.
    {"npm-deps", "npm", "dist/index.js", "", ""},
    {"pnpm", "pnpm", "dist/index.js", "build.js", "const = ;\n"},
    {"yarn", "yarn", "dist/index.js", "", ""},
    {"deno", "deno", "dist/main.ts", "build.ts", "const = ;\n"},
    {"php", "composer", "vendor/autoload.php", "composer.json", "{\n"},
    {"ruby", "bundle", "Gemfile.lock", "Gemfile", "gem(\n"},
    {"mix", "mix", "_build/dev/lib/hello/ebin/Elixir.Hello.beam", "lib/hello.ex",
     "defmodule Hello do\n  def greeting( do\nend\n"},
};

void PrintTo(const Example& example, std::ostream* out) { *out << example.kind; }

class RealBuild : public ::testing::TestWithParam<Example> {};

TEST_P(RealBuild, BuildsTheExampleAndLeavesItsArtefact) {
  const Example& example = GetParam();
  if (!toolAvailable(example.tool)) GTEST_SKIP() << example.tool << " is not installed here";
  const TempDir dir;
  copyExample(example.kind, dir);
  for (int round = 0; round < (example.twice ? 2 : 1); ++round) {
    const test::RunResult result = runQuarn({"build", example.kind}, realToolOptions(dir));
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[info] ✓ Build successful ("), std::string::npos) << result.out;
  }
  EXPECT_TRUE(fs::exists(dir / example.kind / example.artefact)) << example.artefact;
  EXPECT_FALSE(fs::exists(dir / example.artefact)) << "built outside the project";
}

TEST_P(RealBuild, ASyntaxErrorIsAFailedBuild) {
  const Example& example = GetParam();
  if (example.breakFile.empty()) return;
  if (!toolAvailable(example.tool)) GTEST_SKIP() << example.tool << " is not installed here";
  const TempDir dir;
  copyExample(example.kind, dir);
  dir.write(example.kind + "/" + example.breakFile, example.broken);
  const test::RunResult result = runQuarn({"build", example.kind}, realToolOptions(dir));
  EXPECT_EQ(result.status, 1) << result.out << result.err;
  EXPECT_NE(result.out.find("[error] ✗ Build failed ("), std::string::npos) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Examples, RealBuild, ::testing::ValuesIn(kBuildable),
                         [](const auto& info) {
                           std::string name = info.param.kind;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

// quarn test on the examples, each with a small test of its own, or changed so that it fails or
// has none.
struct TestRun {
  std::string name;
  std::string example;  // folder under examples/
  std::string tool;
  std::map<std::string, std::string> writes;  // files written over the example's
  int status;
  std::string shows;  // what the output holds: the tool's own word on the tests, or quarn's
};

const std::string kNoTests = "[info] No tests to run\n";

const TestRun kTestRuns[] = {
    {"cmakePasses", "cmake", "ctest", {}, 0, "100% tests passed, 0 tests failed out of 1"},
    {"cmakeFails",
     "cmake",
     "ctest",
     {{"main.cpp", "int main() { return 1; }\n"}},
     1,
     "The following tests FAILED"},
    {"make", "make", "make", {}, 0, "\nHello from a Make project\n"},
    {"makeWithoutTests",
     "make",
     "make",
     {{"Makefile", "hello: hello.c\n\t$(CC) -o $@ $<\n"}},
     0,
     kNoTests},
    {"cargo", "cargo", "cargo", {}, 0, "test result: ok. 1 passed"},
    {"go", "go", "go", {}, 0, "ok  \texample.com/hello"},
    {"npmPasses", "npm", "npm", {}, 0, "\n1 test passed\n"},
    {"npmFails", "npm", "npm", {{"index.js", "console.log(\"Goodbye\");\n"}}, 1, "index.js greets"},
    {"npmWithoutTests", "npm-deps", "npm", {}, 0, kNoTests},
    {"pytestPasses", "pip", "python3", {}, 0, " 1 passed in "},
    {"pytestFails",
     "pip",
     "python3",
     {{"src/hello/__init__.py", "def greet():\n    return 1\n"}},
     1,
     " 1 failed in "},
};

void PrintTo(const TestRun& run, std::ostream* out) { *out << run.name; }

class TestStepRealTools : public ::testing::TestWithParam<TestRun> {};

TEST_P(TestStepRealTools, RunsTheProjectsTestsWithItsTool) {
  const TestRun& run = GetParam();
  const TempDir dir;
  RunOptions options = realToolOptions(dir);
  // Debian's python3-pytest belongs to Debian's python3, which an interpreter of another
  // installation first on PATH (pyenv's) would hide.
  if (run.tool == "python3") options.env["PATH"] = "/usr/bin:" + *options.env["PATH"];
  const bool available =
      run.tool == "python3"
          ? test::runProgram({"python3", "-m", "pytest", "--version"}, options).status == 0
          : toolAvailable(run.tool);
  if (!available) GTEST_SKIP() << run.tool << " (with pytest) is not installed here";
  copyExample(run.example, dir);
  for (const auto& [name, content] : run.writes) dir.write(run.example + "/" + name, content);
  const test::RunResult result = runQuarn({"test", run.example}, options);
  EXPECT_EQ(result.status, run.status) << result.out << result.err;
  // A tool may say it on standard error, which it shares with quarn.
  EXPECT_NE((result.out + result.err).find(run.shows), std::string::npos)
      << result.out << result.err;
  if (run.shows == kNoTests) {
    EXPECT_EQ(result.out.substr(result.out.size() - kNoTests.size()), kNoTests) << result.out;
  } else {
    EXPECT_NE(result.out.find(run.status == 0 ? "\n\n[info] ✓ Tests passed ("
                                              : "\n\n[error] ✗ Tests failed ("),
              std::string::npos)
        << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Examples, TestStepRealTools, ::testing::ValuesIn(kTestRuns),
                         [](const auto& info) { return info.param.name; });

TEST(RealTools, RebuildRemovesTheCMakeBuildFolderAndBuildsAgain) {
  if (!toolAvailable("cmake")) GTEST_SKIP() << "cmake is not installed here";
  const TempDir dir;
  copyExample("cmake", dir);
  const RunOptions options = realToolOptions(dir);
  ASSERT_EQ(runQuarn({"build", "cmake"}, options).status, 0);
  const fs::path stale = dir.write("cmake/build/stale-file");
  const test::RunResult result = runQuarn({"rebuild", "cmake"}, options);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(dir / "cmake/build/hello"));
  EXPECT_NE(result.out.find("[info] Cleaning build directory...\n[info] Detected: C++ (CMake)\n"),
            std::string::npos);
}

TEST(RealTools, CMakeKeepsItsOwnGeneratorAndTheCacheHitsOnRebuild) {
  for (const char* tool : {"cmake", "ninja", "ccache"}) {
    if (!toolAvailable(tool)) GTEST_SKIP() << tool << " is not installed here";
  }
  const TempDir dir;
  copyExample("cmake", dir);
  // A parser generated from its grammar and committed newer than it, as tree-sitter grammars
  // ship theirs: Make trusts it, while Ninja, with no log of it, would run the generator that
  // is not installed. A default of quarn's must not decide whether a build works.
  dir.write("cmake/grammar.js", "grammar\n");
  dir.write("cmake/parser.c", "int parser_version(void) { return 1; }\n");
  fs::last_write_time(dir / "cmake/parser.c",
                      fs::last_write_time(dir / "cmake/grammar.js") + std::chrono::hours(1));
  dir.write("cmake/CMakeLists.txt",
            "cmake_minimum_required(VERSION 3.16)\nproject(hello_cmake LANGUAGES C CXX)\n"
            "add_custom_command(OUTPUT ${CMAKE_SOURCE_DIR}/parser.c\n"
            "  COMMAND no-such-generator generate DEPENDS ${CMAKE_SOURCE_DIR}/grammar.js)\n"
            "add_executable(hello main.cpp parser.c)\n");
  RunOptions options = realToolOptions(dir);
  options.env["CCACHE_DIR"] = (dir / "ccache").string();
  for (const char* name : {"CMAKE_GENERATOR", "CMAKE_C_COMPILER_LAUNCHER",
                           "CMAKE_CXX_COMPILER_LAUNCHER", "QUARN_NO_CACHE"}) {
    options.env[name] = std::nullopt;
  }
  ASSERT_EQ(runQuarn({"build", "cmake"}, options).status, 0);
  EXPECT_FALSE(fs::exists(dir / "cmake/build/build.ninja"));
  EXPECT_NE(test::readFile(dir / "cmake/build/CMakeCache.txt")
                .find("CMAKE_CXX_COMPILER_LAUNCHER:STRING=ccache"),
            std::string::npos);
  ASSERT_EQ(runQuarn({"rebuild", "cmake"}, options).status, 0);
  const std::string stats = test::runProgram({"ccache", "--print-stats"}, options).out;
  const size_t hit = stats.find("direct_cache_hit\t");
  ASSERT_NE(hit, std::string::npos) << stats;
  EXPECT_GT(std::stoi(stats.substr(hit + 17)), 0) << stats;
}

TEST(RealTools, ValidateShowsEachToolsFirstVersionLine) {
  const std::pair<const char*, const char*> kinds[] = {
      {"cmake", "cmake"},  {"make", "make"},  {"cargo", "cargo"},   {"npm", "npm"},
      {"maven", "mvn"},    {"pip", "pip"},    {"dotnet", "dotnet"}, {"deno", "deno"},
      {"php", "composer"}, {"ruby", "bundle"}};
  const TempDir dir;
  const RunOptions options = realToolOptions(dir);
  for (const auto& [kind, listed] : kinds) {
    if (!toolAvailable(listed)) continue;
    copyExample(kind, dir);
    // The tools the plan runs: python3 for pip where the interpreter is externally managed, and
    // python3-venv, never installed, where it cannot make environments.
    const nlohmann::json tools =
        nlohmann::json::parse(runQuarn({"detect", "--json", kind}, options).out)["tools"];
    if (tools.size() != 1 || !tools[0]["installed"].get<bool>()) continue;
    const std::string tool = tools[0]["name"];
    const test::RunResult version =
        test::runProgram({"/bin/sh", "-c", std::string(tool) + " --version 2>&1"}, options);
    // Colours some tools print even into a pipe are not part of the version.
    const std::string firstLine = std::regex_replace(version.out.substr(0, version.out.find('\n')),
                                                     std::regex("\x1b\\[[0-9;]*m"), "");
    const test::RunResult result = runQuarn({"validate", kind}, options);
    EXPECT_EQ(result.status, 0) << tool;
    EXPECT_NE(result.out.find("[info] ✓ Build tool '" + std::string(tool) +
                              "' is installed\n[info] Version: " + firstLine + "\n\n"),
              std::string::npos)
        << result.out;
  }
}

TEST(RealTools, DetectAndInfoOnAllSevenExamples) {
  test::FakeTools tools;
  for (const char* tool : {"cmake", "make", "cargo", "npm", "pip", "mvn", "dotnet"})
    tools.add(tool, "true");
  RunOptions options;
  options.cwd = QUARN_SOURCE_DIR;
  options.env = {{"PATH", tools.dir().string()}};
  for (const char* kind : {"cmake", "make", "cargo", "npm", "pip", "maven", "dotnet"}) {
    const std::string path = std::string("examples/") + kind;
    const test::RunResult detect = runQuarn({"detect", path}, options);
    EXPECT_EQ(detect.status, 0);
    EXPECT_TRUE(test::matchesGolden(std::string("detect-") + kind, detect.out));
    const test::RunResult info = runQuarn({"info", path}, options);
    EXPECT_EQ(info.status, 0);
    EXPECT_TRUE(test::matchesGolden(std::string("info-example-") + kind, info.out));
  }
}

// A distcc daemon on a loopback address, stopped by its pid. As root it runs as the user distccd,
// which must be able to write its log.
class Distccd {
 public:
  Distccd(std::string address, const fs::path& logs) : address_(std::move(address)) {
    log_ = logs / ("distccd-" + address_ + ".log");
    port_ = freePort();
    if (port_ == 0) return;
    const std::string port = std::to_string(port_);
    std::vector<std::string> words{"distccd",     "--daemon",    "--no-detach", "--allow",
                                   "127.0.0.0/8", "--listen",    address_,      "--port",
                                   port,          "--jobs",      "2",           "--log-file",
                                   log_.string(), "--log-level", "info"};
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // A group of its own: distccd passes its stop signal to the whole of its group.
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) return;
    const bool ready = ::posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
                       ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP) == 0;
    if (ready &&
        ::posix_spawnp(&pid_, "distccd", nullptr, &attributes, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    ::posix_spawnattr_destroy(&attributes);
    // It answers within a few seconds, or never.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      const auto attempt = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
      if (platform::acceptsConnection(address_, port_, attempt)) return;
      std::this_thread::sleep_until(attempt);
    }
    stop();
  }
  Distccd(const Distccd&) = delete;
  Distccd& operator=(const Distccd&) = delete;
  ~Distccd() { stop(); }

  bool running() const { return pid_ > 0; }
  // As --hosts takes it: two jobs at once.
  std::string entry() const { return address_ + ":" + std::to_string(port_) + "/2"; }
  // The compiles it has done.
  int compiles() const {
    const std::string log = fs::exists(log_) ? test::readFile(log_) : "";
    int count = 0;
    for (size_t at = 0; (at = log.find("COMPILE_OK", at)) != std::string::npos; ++at) ++count;
    return count;
  }

  // Stops the daemon and waits, a few seconds at most before its group is killed, until its
  // address refuses connections: until the last of its workers has gone, the listening socket
  // takes them still.
  void stop() {
    if (pid_ <= 0) return;
    using Clock = std::chrono::steady_clock;
    bool reaped = false;
    const auto stopped = [&] {
      reaped = reaped || ::waitpid(pid_, nullptr, WNOHANG) == pid_;
      return reaped && !platform::acceptsConnection(address_, port_,
                                                    Clock::now() + std::chrono::milliseconds(200));
    };
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    bool done = ::kill(pid_, SIGTERM) == 0 && stopped();
    while (!done && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      done = stopped();
    }
    if (!done) {
      ::kill(-pid_, SIGKILL);
      if (!reaped) ::waitpid(pid_, nullptr, 0);
      reaped = true;
      for (int i = 0; i < 50 && !stopped(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    pid_ = -1;
  }

 private:
  // A port nothing listens on at the address now.
  std::uint16_t freePort() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    socklen_t size = sizeof where;
    const bool bound = fd >= 0 && ::inet_pton(AF_INET, address_.c_str(), &where.sin_addr) == 1 &&
                       ::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &size) == 0;
    if (fd >= 0) ::close(fd);
    return bound ? ntohs(where.sin_port) : 0;
  }

  std::string address_;
  fs::path log_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

// A C project of `units` files for `kind`: its CMakeLists.txt, Makefile or meson.build.
void writeUnits(const TempDir& dir, const std::string& kind, int units) {
  std::string sources;
  for (int i = 0; i < units; ++i) {
    const std::string name = fmt::format("unit{}.c", i);
    dir.write(fmt::format("{}/{}", kind, name),
              fmt::format("int unit{0}(int x) {{ return x * {0} + 1; }}\n", i));
    sources.append("'").append(name).append("', ");
  }
  dir.write(kind + "/main.c", "int main(void) { return 0; }\n");
  if (kind == "cmake") {
    dir.write("cmake/CMakeLists.txt",
              "cmake_minimum_required(VERSION 3.16)\nproject(units C)\nfile(GLOB units *.c)\n"
              "add_executable(units ${units})\n");
  } else if (kind == "make") {
    dir.write("make/Makefile",
              "units: $(patsubst %.c,%.o,$(wildcard *.c))\n\t$(CC) -o $@ $^\n"
              "clean:\n\trm -f *.o units\n");
  } else {
    dir.write("meson/meson.build",
              "project('units', 'c')\nexecutable('units', " + sources + "'main.c')\n");
  }
}

TEST(DistccRealBuild, CompilesSpreadOverTwoDaemonsAndStayHereWhenTheyStop) {
  for (const char* tool : {"distccd", "distcc", "cmake", "make", "meson"}) {
    if (!toolAvailable(tool)) GTEST_SKIP() << tool << " is not installed here";
  }
  const TempDir dir;
  const TempDir logs;
  fs::permissions(logs.path(), fs::perms::all);
  Distccd first("127.0.0.2", logs.path());
  Distccd second("127.0.0.3", logs.path());
  ASSERT_TRUE(first.running() && second.running()) << "distccd did not start";
  const std::string hosts = first.entry() + " " + second.entry();

  RunOptions options = realToolOptions(dir);
  for (const char* name :
       {"CMAKE_C_COMPILER_LAUNCHER", "CMAKE_CXX_COMPILER_LAUNCHER", "CMAKE_BUILD_PARALLEL_LEVEL",
        "CMAKE_GENERATOR", "CC", "CXX", "MAKEFLAGS", "QUARN_NO_CACHE", "CCACHE_PREFIX",
        "DISTCC_DIR", "DISTCC_FALLBACK"}) {
    options.env[name] = std::nullopt;
  }
  int round = 0;
  // A build with a cold compiler cache of its own, so that every compile is one to spread.
  const auto build = [&](const std::vector<std::string>& args) {
    options.env["CCACHE_DIR"] = (dir / ("ccache-" + std::to_string(++round))).string();
    return runQuarn(args, options);
  };

  // Each kind: distcc behind ccache for CMake and Meson, distcc alone for Make.
  for (const std::string kind : {"cmake", "make", "meson"}) {
    SCOPED_TRACE(kind);
    writeUnits(dir, kind, 30);
    options.env["QUARN_NO_CACHE"] = kind == "make" ? std::optional<std::string>("1") : std::nullopt;
    const int before[] = {first.compiles(), second.compiles()};
    const test::RunResult result = build({"build", kind, "--hosts", hosts});
    EXPECT_EQ(result.status, 0) << result.out << result.err;
    EXPECT_GT(first.compiles(), before[0]) << result.out;
    EXPECT_GT(second.compiles(), before[1]) << result.out;
    // The parallel level is the sum of the hosts' limits, as distcc counts them.
    const std::smatch found = [&] {
      std::smatch match;
      std::regex_search(result.out, match,
                        std::regex("Spreading compiles with distcc over (.*) \\(([0-9]+) jobs\\)"));
      return match;
    }();
    ASSERT_EQ(found.size(), 3u) << result.out;
    RunOptions count = options;
    count.env["DISTCC_HOSTS"] = found[1].str();
    EXPECT_EQ(test::runProgram({"distcc", "-j"}, count).out, found[2].str() + "\n");
  }
  // A build that fails here fails the same way over the hosts.
  const std::string good = test::readFile(dir / "make/unit3.c");
  dir.write("make/unit3.c", "int unit3(int x) { return x * ; }\n");
  const test::RunResult broken = build({"build", "make", "--hosts", hosts});
  EXPECT_EQ(broken.status, 1) << broken.out;
  EXPECT_NE(broken.out.find("[error] ✗ Build failed ("), std::string::npos) << broken.out;
  dir.write("make/unit3.c", good);

  // One daemon stopped: the build goes on with the other, and says which it left out. Make
  // rebuilds fastest.
  second.stop();
  const int before = first.compiles();
  const test::RunResult oneLeft = build({"rebuild", "make", "--hosts", hosts});
  EXPECT_EQ(oneLeft.status, 0) << oneLeft.out;
  EXPECT_NE(
      oneLeft.out.find("[warning] distcc hosts not answering, left out: " + second.entry() + "\n"),
      std::string::npos)
      << oneLeft.out;
  EXPECT_GT(first.compiles(), before);
  RunOptions report = options;
  report.env["QUARN_HOSTS"] = hosts;
  const nlohmann::json validate =
      nlohmann::json::parse(runQuarn({"validate", "cmake", "--json"}, report).out);
  const nlohmann::json& distribution = validate["distribution"];
  EXPECT_EQ(distribution["source"], "QUARN_HOSTS");
  EXPECT_EQ(distribution["distcc"]["version"].get<std::string>().rfind("distcc ", 0), 0u);
  EXPECT_EQ(distribution["hosts"][0]["reachable"], true);
  EXPECT_EQ(distribution["hosts"][1]["reachable"], false);
  EXPECT_EQ(distribution["hosts"][1]["slots"], 2);
  report.env.erase("QUARN_HOSTS");
  const std::string shown = runQuarn({"validate", "cmake", "--hosts", hosts}, report).out;
  EXPECT_NE(shown.find("[info]   ✓ " + first.entry() + " answers, 2 slots\n[warning]   ✗ " +
                       second.entry() + " does not answer\n"),
            std::string::npos)
      << shown;

  // None left: the build runs here, with the usual defaults.
  first.stop();
  const test::RunResult none = build({"rebuild", "make", "--hosts", hosts});
  EXPECT_EQ(none.status, 0) << none.out;
  EXPECT_NE(none.out.find("[warning] No distcc host answers (" + first.entry() + ", " +
                          second.entry() + "): building on this machine\n"),
            std::string::npos)
      << none.out;
  EXPECT_EQ(none.out.find("Spreading"), std::string::npos);
}

}  // namespace
}  // namespace quarn
