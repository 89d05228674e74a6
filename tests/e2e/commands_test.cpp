#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/sketch.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::FakeTools;
using test::RunOptions;
using test::runQuarn;
using test::TempDir;
using test::Workspace;

struct Scenario {
  std::string golden;
  std::vector<std::string> args;
  std::string marker;                        // created in "app"; empty: none
  std::map<std::string, std::string> tools;  // fake tools on PATH
  int status;
  // More entries in the workspace: sketches (see makeEntry) with their content. The programs in
  // its python/bin come after the fake tools on PATH.
  std::map<std::string, std::string> files = {};
};

const char* const kMakeOk = "echo \"make: building ${PWD##*/}\"; touch built";

// A pnpm of version `version` that says what it runs.
std::string fakePnpm(const std::string& version) {
  return "if [ \"$1\" = --version ]; then echo " + version + "; else echo \"pnpm $*\"; fi";
}

const char* const kPinnedPnpm = R"({"packageManager": "pnpm@9.1.1", "scripts": {"build": "tsc"}})";

TEST(Commands, ScenariosMatchTheirGoldenOutputAndStatus) {
  const std::vector<Scenario> scenarios = {
      {"detect-cmake", {"detect", "app"}, "CMakeLists.txt", {}, 0},
      {"detect-dotnet", {"detect", "app"}, "App.csproj", {}, 0},
      {"detect-cargo", {"detect", "app"}, "Cargo.toml", {}, 0},
      {"detect-make", {"detect", "app"}, "Makefile", {}, 0},
      {"detect-npm", {"detect", "app"}, "package.json", {}, 0},
      {"detect-pip", {"detect", "app"}, "pyproject.toml", {}, 0},
      {"detect-maven", {"detect", "app"}, "pom.xml", {}, 0},
      {"detect-gradle", {"detect", "app"}, "build.gradle", {}, 0},
      {"detect-unknown", {"detect", "app"}, "", {}, 1},
      {"detect-unknown", {"detect", "no/such/folder"}, "", {}, 1},
      {"info-installed", {"info", "app"}, "CMakeLists.txt", {{"cmake", "exit 1"}}, 0},
      {"info-missing", {"info", "app"}, "pom.xml", {}, 0},
      {"info-unknown", {"info", "app"}, "", {}, 1},
      {"info-relative-path", {"info", "app/../app"}, "Cargo.toml", {{"cargo", "true"}}, 0},
      {"validate-installed",
       {"validate", "app"},
       "CMakeLists.txt",
       {{"cmake", "echo 'cmake version 3.25.1'; echo; echo 'CMake suite'"}},
       0},
      {"validate-empty-version", {"validate", "app"}, "Makefile", {{"make", "true"}}, 0},
      {"validate-missing", {"validate", "app"}, "Cargo.toml", {}, 1},
      {"validate-unknown", {"validate", "app"}, "", {}, 1},
      {"build-success", {"build", "app"}, "Makefile", {{"make", kMakeOk}}, 0},
      {"build-failure",
       {"build", "app"},
       "Makefile",
       {{"make", "echo 'make: *** [all] Error 2'; exit 2"}},
       1},
      {"build-killed", {"build", "app"}, "Makefile", {{"make", "kill -TERM $$"}}, 1},
      // A build that ends by SIGINT or exits with 130 of its own, while quarn receives no signal,
      // is a failed build: quarn does not end itself by SIGINT for it.
      {"build-interrupted", {"build", "app"}, "Makefile", {{"make", "kill -INT $$"}}, 1},
      {"build-interrupted", {"build", "app"}, "Makefile", {{"make", "exit 130"}}, 1},
      {"build-missing-tool", {"build", "app"}, "package.json", {}, 1},
      {"build-unknown", {"build", "app"}, "", {}, 1},
      {"rebuild-success", {"rebuild", "app"}, "Makefile", {{"make", kMakeOk}}, 0},
      {"rebuild-missing-tool", {"rebuild", "app"}, "Makefile", {}, 1},
      {"rebuild-unknown", {"rebuild", "app"}, "", {}, 1},
      // Projects in subfolders are named; hidden ones, deeper ones and others' are not.
      {"build-unknown-below",
       {"build", "app"},
       "Src/App.csproj",
       {},
       1,
       {{"app/docs/site/package.json", "{}"},
        {"app/.github/workflows/Makefile", ""},
        {"app/docs/node_modules/x/package.json", "{}"},
        {"app/tools/scripts/deep/Cargo.toml", ""}}},
      {"detect-unknown-below", {"detect", "app"}, "Src/App.csproj", {}, 1},
      // An externally managed interpreter without the means to make a project's environment.
      {"build-missing-venv",
       {"build", "app"},
       "pyproject.toml",
       {},
       1,
       {{"python/bin/python3!", ""},
        {"python/lib/python3.11/os.py", ""},
        {"python/lib/python3.11/EXTERNALLY-MANAGED", "[externally-managed]\n"}}},
      // A pinned package manager of another major version is worth a warning, not a refusal.
      {"build-pinned-major",
       {"build", "app"},
       "",
       {{"pnpm", fakePnpm("12.0.0")}},
       0,
       {{"app/package.json", kPinnedPnpm}}},
      {"validate-pinned-major",
       {"validate", "app"},
       "",
       {{"pnpm", fakePnpm("12.0.0")}},
       0,
       {{"app/package.json", kPinnedPnpm}}},
      {"validate-pinned-minor",
       {"validate", "app"},
       "",
       {{"pnpm", fakePnpm("9.15.4")}},
       0,
       {{"app/package.json", kPinnedPnpm}}},
  };
  for (const Scenario& s : scenarios) {
    Workspace ws;
    fs::create_directory(ws.dir / "app");
    if (!s.marker.empty()) ws.dir.write("app/" + s.marker);
    for (const auto& [sketch, content] : s.files) test::makeEntry(ws.dir, sketch, content);
    ws.options.env["PATH"] = *ws.options.env["PATH"] + ":" + (ws.dir / "python/bin").string();
    for (const auto& [name, script] : s.tools) ws.tools.add(name, script);
    const test::RunResult result = ws.quarn(s.args);
    EXPECT_EQ(result.status, s.status) << s.golden;
    EXPECT_TRUE(test::matchesGolden(s.golden, result.out));
  }
}

TEST(Commands, InfoWithoutAPathShowsTheCurrentFolder) {
  Workspace ws;
  ws.dir.write("Makefile");
  const test::RunResult result = ws.quarn({"info"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("[info] Project: .\n"), std::string::npos) << result.out;
}

TEST(Commands, BuildRunsInTheProjectFolderAndRebuildCleansOnlyThere) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.dir.write("app/build/old-artefact");
  ws.dir.write("build/callers-own-file");
  ws.tools.add("make", kMakeOk);
  EXPECT_EQ(ws.quarn({"build", "app"}).status, 0);
  EXPECT_TRUE(fs::exists(ws.dir / "app/built"));
  EXPECT_FALSE(fs::exists(ws.dir / "built"));
  EXPECT_TRUE(fs::exists(ws.dir / "app/build/old-artefact"));

  EXPECT_EQ(ws.quarn({"rebuild", "app"}).status, 0);
  EXPECT_FALSE(fs::exists(ws.dir / "app/build"));
  EXPECT_TRUE(fs::exists(ws.dir / "build/callers-own-file"));

  // A "build" that is a link goes as a link; what it points at stays.
  fs::create_directory_symlink(ws.dir / "build", ws.dir / "app/build");
  EXPECT_EQ(ws.quarn({"rebuild", "app"}).status, 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(ws.dir / "app/build")));
  EXPECT_TRUE(fs::exists(ws.dir / "build/callers-own-file"));
}

TEST(Commands, RebuildWithAMissingToolDeletesNothing) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.dir.write("app/build/keep");
  EXPECT_EQ(ws.quarn({"rebuild", "app"}).status, 1);
  EXPECT_TRUE(fs::exists(ws.dir / "app/build/keep"));
}

TEST(Commands, APathFullOfShellSyntaxIsNeverRunThroughAShell) {
  Workspace ws;
  const std::string name = "$(touch pwned) `touch pwned`; touch pwned 'q\" && touch pwned";
  ws.dir.write(name + "/Makefile");
  ws.dir.write(name + "/build/x");
  ws.tools.add("make", kMakeOk);
  for (const std::string command : {"build", "rebuild", "info", "validate", "detect"}) {
    const test::RunResult result = ws.quarn({command, name});
    EXPECT_EQ(result.status, 0) << command << result.out;
  }
  EXPECT_TRUE(fs::exists(ws.dir / name / "built"));
  EXPECT_FALSE(fs::exists(ws.dir / name / "build"));
  for (const auto& entry : fs::recursive_directory_iterator(ws.dir.path())) {
    EXPECT_NE(entry.path().filename(), "pwned") << entry.path();
  }
}

TEST(Commands, ElapsedTimeIsTruncatedToWholeSeconds) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", "sleep 1.3");
  const test::RunResult result = ws.quarn({"build", "app"});
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("[info] ✓ Build successful (1s)\n"), std::string::npos) << result.out;
}

TEST(Commands, TheBuildToolKeepsTheTerminalAndItsStreamsStayInOrder) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add(
      "make",
      "if [ -t 1 ]; then echo 'stdout is a terminal'; else echo 'stdout is not a terminal'; fi\n"
      "echo out-1; echo err-1 >&2; echo out-2; echo err-2 >&2");
  const std::string command = std::string(QUARN_BINARY) + " build app 2>&1";
  const test::RunResult onTerminal =
      test::runProgram({"script", "-qefc", command, "/dev/null"}, ws.options);
  EXPECT_EQ(onTerminal.status, 0);
  EXPECT_NE(onTerminal.out.find("stdout is a terminal\r\nout-1\r\nerr-1\r\nout-2\r\nerr-2\r\n"),
            std::string::npos)
      << onTerminal.out;
  const test::RunResult piped = test::runProgram({"/bin/sh", "-c", command}, ws.options);
  EXPECT_NE(piped.out.find("\n\nstdout is not a terminal\nout-1\nerr-1\nout-2\nerr-2\n\n[info] ✓"),
            std::string::npos)
      << piped.out;
}

}  // namespace
}  // namespace quarn
