// quarn on the bundled examples with the real build and test tools of this machine. A tool that
// is not installed skips its cases with a message.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

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
      {"cmake", "cmake"}, {"make", "make"}, {"cargo", "cargo"},  {"npm", "npm"},
      {"maven", "mvn"},   {"pip", "pip"},   {"dotnet", "dotnet"}};
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

}  // namespace
}  // namespace quarn
