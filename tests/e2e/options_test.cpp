#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "project/kinds.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using test::Workspace;

std::string usage() {
  return test::readFile(fs::path(QUARN_GOLDEN_DIR) / "help.out").substr(test::banner().size());
}

std::string kindList() {
  std::string names;
  for (const std::string& name : kindNames()) names += (names.empty() ? "" : ", ") + name;
  return names;
}

// Prints the folder it runs in, each argument in brackets, and MAKEFLAGS; leaves a trace.
const char* const kEchoMake =
    "printf 'in %s:' \"${PWD##*/}\"; for a in \"$@\"; do printf '[%s]' \"$a\"; done\n"
    "echo \" MAKEFLAGS=$MAKEFLAGS\"; touch ran";

TEST(Options, AnUnusableLineIsAUsageErrorWhateverElseItAsks) {
  const std::string kinds = "(the kinds are " + kindList() + ")";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"build", "--verbose"}, "Unknown option: --verbose"},
      {{"build", "app", "--json"}, "Unknown option: --json"},
      {{"detect", "-n", "app"}, "Unknown option: -n"},
      {{"info", "app", "--dry-run"}, "Unknown option: --dry-run"},
      {{"validate", "-j", "4"}, "Unknown option: -j"},
      {{"clean", "app", "-j4"}, "Unknown option: -j4"},
      {{"build", "-5"}, "Unknown option: -5"},
      {{"build", "-"}, "Unknown option: -"},
      {{"rebuild", "app", "other", "--Json"}, "Unknown option: --Json"},
      {{"build", "app", "-q", "--bogus"}, "Unknown option: --bogus"},
      {{"detect", "app", "--json", "--bogus"}, "Unknown option: --bogus"},
      {{"build", "app", "--version", "--bogus"}, "Unknown option: --bogus"},
      {{"build", "--bogus", "-h"}, "Unknown option: --bogus"},
      {{"test", "app", "--json"}, "Unknown option: --json"},
      {{"detect", "--kind"}, "--kind needs a kind name " + kinds},
      {{"detect", "--kind", "--json"}, "--kind needs a kind name " + kinds},
      {{"info", "--kind=", "app"}, "--kind needs a kind name " + kinds},
      {{"build", "-nj"}, "--jobs needs a whole number of 1 or more"},
      {{"build", "app", "-j"}, "-j needs a whole number of 1 or more"},
      {{"build", "--jobs", "-n"}, "--jobs needs a whole number of 1 or more"},
      {{"build", "--jobs", "0"}, "--jobs needs a whole number of 1 or more, not '0'"},
      {{"build", "-jfour"}, "--jobs needs a whole number of 1 or more, not 'four'"},
      {{"detect", "--kind", "ant"}, "Unknown kind: ant " + kinds},
      {{"build", "--kind=unknown"}, "Unknown kind: unknown " + kinds},
      {{"detect", "--json=yes"}, "--json takes no value"},
      {{"build", "--hosts"}, "--hosts needs a list of distcc hosts, as \"a/8 b:3633/4\""},
      {{"rebuild", "--hosts", "a/8 b:99999"},
       "--hosts: 'b:99999' is no distcc host: the port after ':' must be a number from 1 to 65535"},
      {{"info", "--hosts", "a"}, "Unknown option: --hosts"},
      {{"--", "build"}, "Unknown command: --"},
  };
  const Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", kEchoMake);
  for (const auto& [args, error] : cases) {
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(result.out, test::banner() + "[error] " + error + "\n" + usage())
        << ::testing::PrintToString(args);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_FALSE(fs::exists(ws.dir / "app/ran"));
}

// Each command's usage, after the command word or as "help COMMAND", is its golden file; "help"
// alone and a word that is not a command give the general usage.
TEST(Options, VersionAndHelp) {
  struct Case {
    std::vector<std::string> args;
    std::string out;     // "version", or the golden file of the usage
    bool banner = true;  // -q and --json leave it out
  };
  const std::vector<Case> cases = {
      {{"--version"}, "version"},
      {{"--version", "--bogus", "app"}, "version"},
      {{"build", "--version"}, "version"},
      {{"rebuild", "app", "-q", "--version"}, "version"},
      {{"clean", "--version", "app"}, "version"},
      {{"detect", "app", "--json", "--version"}, "version"},
      {{"info", "--version"}, "version"},
      {{"validate", "--version"}, "version"},
      {{"build", "-h", "--version"}, "version"},
      {{"help", "--bogus", "-n", "--version"}, "help"},
      {{"-h", "--json"}, "help"},
      {{"--help", "app", "--", "x"}, "help"},
      {{"--help", "build"}, "help"},
      {{"help", "help"}, "help"},
      {{"help", "Build"}, "help"},
      {{"help", "app", "build"}, "help"},
      {{"build", "app", "-h"}, "help-build"},
      {{"build", "--help", "--", "-h"}, "help-build"},
      {{"help", "build"}, "help-build"},
      {{"rebuild", "-h"}, "help-rebuild"},
      {{"clean", "--help", "app"}, "help-clean"},
      {{"detect", "--help", "app"}, "help-detect"},
      {{"help", "detect", "--bogus"}, "help-detect"},
      {{"validate", "-qh"}, "help-validate", false},
      {{"info", "--json", "--help"}, "help-info", false},
      {{"test", "app", "-h"}, "help-test"},
      {{"help", "test"}, "help-test"},
      {{"test", "--version"}, "version"},
  };
  const Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", kEchoMake);
  for (const Case& c : cases) {
    const test::RunResult result = ws.quarn(c.args);
    EXPECT_EQ(result.status, 0) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.err, "") << ::testing::PrintToString(c.args);
    if (c.out == "version") {
      EXPECT_EQ(result.out, "quarn 1.0.0\n") << ::testing::PrintToString(c.args);
    } else {
      EXPECT_TRUE(test::matchesGolden(c.out, (c.banner ? "" : test::banner()) + result.out))
          << ::testing::PrintToString(c.args);
    }
  }
  EXPECT_FALSE(fs::exists(ws.dir / "app/ran"));
}

// Options before or after the path, "--" with nothing after it, an empty path, a path that
// begins with "-", and --jobs for make.
TEST(Options, WhereverTheOptionsStandTheSameBuildRuns) {
  const Workspace ws;
  ws.dir.write("Makefile");
  ws.dir.write("app/Makefile");
  ws.dir.write("-app/Makefile");
  ws.tools.add("make", kEchoMake);
  const std::string here = ws.dir.path().filename().string();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"build", "app", "-j8"}, "in app: MAKEFLAGS=-j8"},
      {{"build", "-j", "8", "app"}, "in app: MAKEFLAGS=-j8"},
      {{"build", "--jobs=2", "app", "extra", "words", "--jobs", "8"}, "in app: MAKEFLAGS=-j8"},
      {{"build", "-qj8", "app"}, "in app: MAKEFLAGS=-j8"},
      {{"build", "./-app"}, "in -app: MAKEFLAGS="},
      {{"build", "app", "--"}, "in app: MAKEFLAGS="},
      {{"build", "--"}, "in " + here + ": MAKEFLAGS="},
      {{"build", ""}, "in " + here + ": MAKEFLAGS="},
      {{"build", "--", "app", "-n", "--version"},
       "in " + here + ":[app][-n][--version] MAKEFLAGS="},
      {{"rebuild", "-j3", "app", "--", "--", "x"}, "in app:[--][x] MAKEFLAGS=-j3"},
  };
  for (const auto& [args, line] : cases) {
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, 0) << ::testing::PrintToString(args) << result.out;
    EXPECT_NE(("\n" + result.out).find("\n" + line + "\n"), std::string::npos)
        << ::testing::PrintToString(args) << result.out;
  }
}

TEST(Options, DryRunPlansChecksAndRunsNothing) {
  struct Case {
    std::vector<std::string> args;
    int status;       // 1: make is not installed
    std::string out;  // after the banner
  };
  const std::string checked =
      "[info] Detected: C (Make)\n[info] Build tool 'make' validated\n"
      "[info] Building with: make all\n";
  const std::string plan = "[info] Would remove 'app/build'\n[info] Would run: make clean\n";
  const std::string rebuild = "[info] Performing clean rebuild...\n";
  const std::string cleaning = "[info] Cleaning build directory...\n";
  const std::string jobs = "[info] Environment: MAKEFLAGS=-j4\n";
  const std::string dry = "[info] Dry run: nothing was run\n";
  const std::string missing =
      "[error] Build tool 'make' is missing, please install it to continue\n"
      "[info] Install: sudo apt install build-essential\n";
  const std::vector<Case> cases = {
      {{"build", "-n", "app", "--", "all"}, 0, checked + dry},
      {{"build", "app", "--dry-run", "--", "all"}, 0, checked + dry},
      {{"build", "app", "-j4", "-n", "--", "all"}, 0, checked + jobs + dry},
      {{"build", "app", "-n", "--hosts", "@farm/2 localhost/1", "--", "all"},
       0,
       "[info] Detected: C (Make)\n[info] Build tool 'make' validated\n"
       "[info] Spreading compiles with distcc over @farm/2 localhost/1 (3 jobs)\n"
       "[info] Building with: make all\n"
       "[info] Environment: MAKEFLAGS=-j3 CC='distcc cc' CXX='distcc c++' "
       "DISTCC_HOSTS='@farm/2 localhost/1'\n" +
           dry},
      {{"rebuild", "app", "-n", "--", "all"}, 0, rebuild + cleaning + plan + checked + dry},
      {{"clean", "-n", "app"},
       0,
       "[info] Detected: C (Make)\n" + cleaning + plan +
           "[info] Dry run: nothing was removed or run\n"},
      {{"clean", "-n", "app", "--kind", "cmake"},
       0,
       "[info] Detected: C++ (CMake)\n" + cleaning +
           "[info] Would remove 'app/build'\n[info] Dry run: nothing was removed or run\n"},
      {{"build", "-n", "app"}, 1, "[info] Detected: C (Make)\n" + missing},
      {{"rebuild", "-n", "app"}, 1, rebuild + "[error] Build tool 'make' is missing\n"},
  };
  for (const Case& c : cases) {
    Workspace ws;
    ws.dir.write("app/Makefile", "all:\n\ttrue\nclean:\n\trm -rf build\n");
    ws.dir.write("app/build/keep");
    if (c.status == 0) ws.tools.add("make", kEchoMake);
    ws.tools.add("distcc", "true");
    ws.options.env["DISTCC_DIR"] = (ws.dir / "distcc").string();  // the user's: not shown
    const test::RunResult result = ws.quarn(c.args);
    EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.out, test::banner() + c.out) << ::testing::PrintToString(c.args);
    EXPECT_TRUE(fs::exists(ws.dir / "app/build/keep")) << ::testing::PrintToString(c.args);
    EXPECT_FALSE(fs::exists(ws.dir / "app/ran")) << ::testing::PrintToString(c.args);
    EXPECT_FALSE(fs::exists(ws.dir / "distcc")) << ::testing::PrintToString(c.args);
  }
}

TEST(Options, QuietLeavesWarningsErrorsTheBuildsOutputAndTheVerdict) {
  struct Case {
    std::vector<std::string> args;
    std::string make;  // the fake make's script; empty: none
    int status;
    std::string out;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {{"build", "-q", "app"}, "echo compiling", 0, "compiling\n[info] ✓ Build successful (0s)\n"},
      {{"build", "app", "--quiet"}, "echo oops >&2; echo half; exit 2", 1,
       "half\n[error] ✗ Build failed (0s)\n"},
      {{"build", "app", "-q", "-n"}, "true", 0, "[info] Dry run: nothing was run\n"},
      {{"build", "-q", "app"}, "", 1,
       "[error] Build tool 'make' is missing, please install it to continue\n"},
      {{"clean", "-q", "app"}, "true", 0, "[info] ✓ Nothing to clean\n"},
      {{"detect", "-q", "app"}, "", 0, ""},
      {{"info", "-q", "nowhere"}, "", 1, "[warning] Unknown project type\n"},
      {{"build", "-q", "nowhere"}, "", 1, "[error] Could not detect project type\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    const Workspace ws;
    ws.dir.write("app/Makefile");
    if (!c.make.empty()) ws.tools.add("make", c.make);
    const test::RunResult result = ws.quarn(c.args);
    EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.out, c.out) << ::testing::PrintToString(c.args);
  }
}

// Each argument after "--" reaches the tool as one argument, and the log shows it quoted.
TEST(Options, ArgumentsAfterTheDashesArriveWhole) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      // argument                shown in "Building with:"
      {"two words", "'two words'"},
      {"it's", "'it'\\''s'"},
      {"say \"hi\"", "'say \"hi\"'"},
      {"$HOME", "'$HOME'"},
      {"a;b", "'a;b'"},
      {"100%", "100%"},
      {"`touch pwned`", "'`touch pwned`'"},
      {"*", "'*'"},
      {"line\nbreak", "'line\\nbreak'"},
      {"", "''"},
      {"-n", "-n"},
  };
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.dir.write("app/decoy");
  ws.tools.add("make", kEchoMake);
  std::vector<std::string> args{"build", "app", "--"};
  std::string shown = "[info] Building with: make";
  std::string received = "in app:";
  for (const auto& [argument, quoted] : cases) {
    args.push_back(argument);
    shown += " " + quoted;
    received += "[" + argument + "]";
  }
  const test::RunResult result = ws.quarn(args);
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("\n" + shown + "\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("\n" + received + " MAKEFLAGS=\n"), std::string::npos) << result.out;
  EXPECT_FALSE(fs::exists(ws.dir / "app/pwned"));

  // A quarn.toml's build takes them at the end of its one line, before a comment that ends it;
  // where they would not reach its last command, nothing runs and one error says why.
  const std::string refused =
      "[error] app/quarn.toml:1:9: arguments after -- go at the end of "
      "'build', which ";
  const std::vector<std::pair<std::string, std::string>> builds = {
      // build                              what make receives, or the error
      {"\"\"\"\nmake -s all\n\"\"\"", "in app:[-s][all][touch][SURPRISE]"},
      {"\"make -s all # usual\"", "in app:[-s][all][touch][SURPRISE]"},
      {"\"make 'a #b' # usual\"", "in app:[a #b][touch][SURPRISE]"},
      {"\"\"\"\nmake -s all\nmake -s docs\n\"\"\"",
       refused + "has several lines: write them into it instead"},
      {"\"make -s all; # usual\"", refused + "ends in ';': they would not reach its last command"},
  };
  for (const auto& [build, outcome] : builds) {
    ws.dir.write("app/quarn.toml", "build = " + build + "\n");
    for (const std::string command : {"build", "rebuild"}) {
      fs::remove(ws.dir / "app/ran");
      ws.dir.write("app/build/keep");
      const test::RunResult run = ws.quarn({command, "app", "--", "touch", "SURPRISE"});
      SCOPED_TRACE(::testing::Message() << command << " with build = " << build << "\n" << run.out);
      EXPECT_FALSE(fs::exists(ws.dir / "app/SURPRISE"));
      if (outcome.rfind("[error]", 0) == 0) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, test::banner() + outcome + "\n");
        EXPECT_FALSE(fs::exists(ws.dir / "app/ran"));
        EXPECT_TRUE(fs::exists(ws.dir / "app/build/keep"));
      } else {
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.out.find("\n" + outcome + " MAKEFLAGS=\n"), std::string::npos);
      }
    }
  }
}

TEST(Options, NpmTakesTheArgumentsInItsBuildAndNotInItsInstall) {
  Workspace ws;
  ws.dir.write("app/package.json",
               R"({"scripts": {"build": "tsc"}, "devDependencies": {"typescript": "5"}})");
  ws.tools.add("npm", "for a in \"$@\"; do printf '[%s]' \"$a\"; done; echo");
  const test::RunResult result = ws.quarn({"build", "app", "--", "--watch", "a b"});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find(
                "[info] Building with: npm install && npm run build -- --watch 'a b'\n\n[install]\n"
                "[run][build][--][--watch][a b]\n"),
            std::string::npos)
      << result.out;
}

// The first marker of a kind, as detection names it.
std::string firstMarker(const Kind& kind) { return std::string(kind.markers.front().name); }

TEST(Options, JsonIsOneObjectThatParsesForEveryKindAndName) {
  const std::vector<std::string> keys = {
      "recognised",   "path",        "root", "kind",  "displayName", "language",  "tools",
      "buildCommand", "testCommand", "note", "clean", "environment", "decidedBy", "configuredBy"};
  Workspace ws;
  // A data folder that cannot be made: its warning must not reach standard output.
  const fs::path notAFolder = ws.dir.write("not-a-folder");
  ws.options.env["APPDATA"] = notAFolder.string();
  std::set<std::string> tools;
  for (const Kind& kind : kinds()) {
    if (kind.markers.empty()) continue;
    const std::string folder = std::string(kind.name);
    const std::string marker = firstMarker(kind);
    // ".csproj" stands for any name that holds it; "configure" must be able to run.
    std::string name = folder + "/";
    if (marker == ".csproj") name += "App";
    const fs::path file = ws.dir.write(name + marker);
    fs::permissions(file, fs::perms::owner_all);
    const std::string toolName(kind.tools.front()->name);
    if (tools.insert(toolName).second) ws.tools.add(toolName, "echo 'fake 1.0'");
    for (const std::string command : {"detect", "info", "validate"}) {
      const test::RunResult result = ws.quarn({command, "--json", folder});
      SCOPED_TRACE(::testing::Message() << command << " " << folder);
      EXPECT_EQ(result.status, 0);
      EXPECT_NE(result.err.find("Could not create data directory"), std::string::npos);
      const json object = json::parse(result.out);
      std::vector<std::string> names;
      for (const auto& item : object.items()) names.push_back(item.key());
      std::sort(names.begin(), names.end());
      std::vector<std::string> expected = keys;
      if (command == "validate") expected.emplace_back("distribution");  // null: no hosts
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(names, expected);
      EXPECT_EQ(object["recognised"], true);
      EXPECT_EQ(object["path"], folder);
      EXPECT_EQ(object["kind"], kind.name);
      EXPECT_EQ(object["displayName"], kind.displayName);
      EXPECT_EQ(object["language"], kind.language);
      EXPECT_EQ(object["decidedBy"].at(0), file.filename().string());
      EXPECT_TRUE(object["buildCommand"].is_string());
      // Null only where there are no tests: an empty makefile has no test target.
      EXPECT_EQ(object["testCommand"].is_null(), kind.name == "make");
      EXPECT_TRUE(object["configuredBy"].is_null());
      EXPECT_TRUE(object["clean"]["removesBuildFolder"].is_boolean());
      for (const char* key : {"jobs", "compilerCache", "variables"}) {
        EXPECT_TRUE(object["environment"].contains(key)) << key;
      }
      const json& tool = object["tools"].at(0);
      EXPECT_EQ(tool["name"], toolName);
      EXPECT_EQ(tool["installed"], true);
      EXPECT_EQ(tool.contains("version"), command == "validate");
      if (command == "validate") {
        EXPECT_EQ(tool["version"], "fake 1.0");
      }
    }
  }

  // Names that are not UTF-8 or hold control characters; an unrecognised folder.
  struct Case {
    std::string folder;
    std::string marker;
    int status;
    std::string path;  // as it reads back
  };
  const std::vector<Case> cases = {
      {"bad\xff\xfename", "Cargo.toml", 0, "bad\xEF\xBF\xBD\xEF\xBF\xBDname"},
      {"ctl\x01\x1b[31m\nname", "Cargo.toml", 0, "ctl\x01\x1b[31m\nname"},
      {"caf\xC3\xA9 \"q\" \\", "Cargo.toml", 0, "caf\xC3\xA9 \"q\" \\"},
      {"plain", "", 1, "plain"},
      {"no-such-folder", "-", 1, "no-such-folder"},
  };
  for (const Case& c : cases) {
    if (c.marker.empty()) fs::create_directory(ws.dir / c.folder);
    if (!c.marker.empty() && c.marker != "-") ws.dir.write(c.folder + "/" + c.marker);
    for (const std::string command : {"detect", "info", "validate"}) {
      const test::RunResult result = ws.quarn({command, c.folder, "--json"});
      SCOPED_TRACE(::testing::Message() << command << " " << c.path);
      EXPECT_EQ(result.status, c.status);
      for (const char byte : result.out) EXPECT_LT(static_cast<unsigned char>(byte), 0x80);
      const json object = json::parse(result.out);
      EXPECT_EQ(object["path"], c.path);
      EXPECT_EQ(object["recognised"], c.status == 0);
      if (c.status == 0) {
        EXPECT_EQ(object["root"], (ws.dir / c.path).string());
      }
    }
  }
}

// The plan as "kind | build command | tools | clean command | configured by"; a tool found is
// marked "(installed)".
std::string planOf(const json& object) {
  std::string tools;
  for (const json& tool : object["tools"]) {
    tools += (tools.empty() ? "" : " ") + tool["name"].get<std::string>() +
             (tool["installed"].get<bool>() ? " (installed)" : "");
  }
  const json& clean = object["clean"]["command"];
  return object["kind"].get<std::string>() + " | " + object["buildCommand"].get<std::string>() +
         " | " + tools + " | " + (clean.is_null() ? "" : clean.get<std::string>()) + " | " +
         object["configuredBy"].get<std::string>();
}

TEST(Options, SettingsFileAndKindOverrideWhatDetectionSays) {
  struct Case {
    std::string marker;  // created in "app"; empty: none
    std::string toml;    // app/quarn.toml; empty: none
    std::vector<std::string> extra;
    std::string plan;
    bool removesBuild;  // the clean step removes "build"
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"Makefile", "kind = \"cargo\"\n", {},
       "cargo | cargo build --release | cargo | cargo clean | quarn.toml (kind)", false},
      {"Makefile", "kind = \"cargo\"\nbuild = \"./go.sh\"\n", {},
       "cargo | ./go.sh | cargo | cargo clean | quarn.toml (kind, build)", true},
      {"Makefile", "build = \"./go.sh\"\n", {},
       "make | ./go.sh | make |  | quarn.toml (build)", true},
      {"", "build = \"./go.sh\"\n", {},
       "custom | ./go.sh |  |  | quarn.toml (build)", true},
      {"", "kind = \"custom\"\nbuild = \"./go.sh\"\ntools = [\"sh\"]\n", {},
       "custom | ./go.sh | sh |  | quarn.toml (kind, build, tools)", true},
      {"Makefile", "tools = [\"gmake\", \"cc\"]\n", {},
       "make | make | gmake cc |  | quarn.toml (tools)", true},
      {"Makefile", "clean = \"./tidy.sh\"\n", {},
       "make | make | make | ./tidy.sh | quarn.toml (clean)", false},
      {"Makefile", "kind = \"cargo\"\n", {"--kind", "go"},
       "go | go build ./... | go | go clean | --kind, quarn.toml", false},
      {"Makefile", "", {"--kind=meson"},
       "meson | meson setup build --buildtype=release && meson compile -C build | meson |  | --kind",
       true},
      // Blank lines and space around a command go; a tab inside it stays.
      {"Makefile", "build = \"\"\"\n  make -s all\t# usual\n\n\"\"\"\n", {},
       "make | make -s all\t# usual | make |  | quarn.toml (build)", true},
      // A tool named by a path is a program in the project.
      {"build.sh", "build = \"./build.sh\"\ntools = [\"./build.sh\"]\n", {},
       "custom | ./build.sh | ./build.sh (installed) |  | quarn.toml (build, tools)", true},
  };
  // clang-format on
  for (const Case& c : cases) {
    const Workspace ws;
    if (!c.marker.empty()) {
      fs::permissions(ws.dir.write("app/" + c.marker), fs::perms::owner_all);
    }
    if (!c.toml.empty()) ws.dir.write("app/quarn.toml", c.toml);
    SCOPED_TRACE(c.plan);
    std::vector<std::string> args{"detect", "app"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    args.emplace_back("--json");
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, 0);
    const json object = json::parse(result.out);
    EXPECT_EQ(planOf(object), c.plan);
    // A clean command of the file's own leaves the build folder alone, as does a kind whose tool
    // never writes it, unless the file sets the build.
    EXPECT_EQ(object["clean"]["removesBuildFolder"], c.removesBuild);
    args.pop_back();
    const std::string configuredBy =
        "[info] Configured by: " + object["configuredBy"].get<std::string>() + "\n";
    for (const std::string command : {"detect", "info"}) {
      args.front() = command;
      EXPECT_NE(ws.quarn(args).out.find(configuredBy), std::string::npos) << command;
    }
  }
}

TEST(Options, ABadSettingsFileIsOneErrorWithItsPlaceAndNothingRuns) {
  struct Case {
    std::string toml;  // the file's text, or with `link` the target of a link in its place
    std::string error;
    bool link = false;
  };
  const std::vector<Case> cases = {
      {"build = \"x", "1:11: Error while parsing string: encountered end-of-file"},
      {"kind = \"make\"\n[clean]\n", "2:1: 'clean' must be a string"},
      {"target = \"all\"\n", "1:1: unknown key 'target'"},
      {"build = 3\n", "1:9: 'build' must be a string"},
      {"kind = \"make\"\ntest = [\"make\", \"test\"]\n", "2:8: 'test' must be a string"},
      {"kind = [\"make\"]\n", "1:8: 'kind' must be a string"},
      {"tools = \"make\"\n", "1:9: 'tools' must be an array of strings"},
      {"kind = \"make\"\n\n  tools = [\"make\", 2]\n", "3:20: 'tools' must be an array of strings"},
      {"kind = \"ant\"\n", "1:8: unknown kind 'ant'"},
      {"kind = \"unknown\"\n", "1:8: unknown kind 'unknown'"},
      {"kind = \"custom\"\n", "1:8: kind 'custom' needs 'build'"},
      // Text the system would cut at a NUL, or the terminal and shell take for something else.
      {"tools = [\"make\\u0000x\"]\n",
       "1:10: a name in 'tools' holds the control character U+0000"},
      {"build = \"echo first\\u0000; echo second\"\n",
       "1:9: 'build' holds the control character U+0000"},
      {"clean = \"make clean\\r\"\n", "1:9: 'clean' holds the control character U+000D"},
      {"tools = [\"make\", \"\"]\n", "1:18: 'tools' holds an empty name"},
      {"build = \"\"\n", "1:9: 'build' is empty"},
      {"nowhere.toml", " a link to a file that does not exist", true},
      {"hosts = \"a/8 b\"\n", "1:9: 'hosts' must be an array of distcc hosts"},
      {"hosts = [\"a/8\", 3]\n", "1:17: 'hosts' must be an array of distcc hosts"},
      {"hosts = [\"a/8\",\n  \"b:x\"]\n",
       "2:3: 'b:x' is no distcc host: the port after ':' must be a number from 1 to 65535"},
      {"hosts = [\"a/8 b/4\"]\n", "1:10: 'a/8 b/4' is no distcc host: one host per entry"},
  };
  for (const Case& c : cases) {
    const Workspace ws;
    ws.dir.write("app/Makefile");
    if (c.link) {
      fs::create_symlink(c.toml, ws.dir / "app/quarn.toml");
    } else {
      ws.dir.write("app/quarn.toml", c.toml);
    }
    ws.tools.add("make", kEchoMake);
    SCOPED_TRACE(c.toml);
    const std::string message = "app/quarn.toml:" + c.error;
    // --kind does not hide a bad file.
    for (const std::string option : {"-n", "--kind=make"}) {
      const test::RunResult build = ws.quarn({"build", "app", option});
      EXPECT_EQ(build.status, 1);
      EXPECT_EQ(build.out, test::banner() + "[error] " + message + "\n");
    }
    const test::RunResult report = ws.quarn({"validate", "app", "--json"});
    EXPECT_EQ(report.status, 1);
    EXPECT_EQ(json::parse(report.out), json({{"recognised", nullptr}, {"error", message}}));
    EXPECT_FALSE(fs::exists(ws.dir / "app/ran"));
  }
}

}  // namespace
}  // namespace quarn
