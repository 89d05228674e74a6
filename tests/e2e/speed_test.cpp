// What quarn adds to a build to make it fast: environment defaults the user's own settings
// override, a compiler cache where one is installed, --jobs for every kind, and distcc's hosts
// where the kind can take them.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project/kinds.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::Workspace;

// A build tool that shows what it was given.
const char* const kShowEnvironment =
    "echo \"args: $*\"; env | grep -E "
    "'^(CMAKE_|CCACHE_|MAKEFLAGS|CARGO_BUILD_JOBS|RUSTC_WRAPPER|DISTCC_|CC=|CXX=)' | sort";

// The variables quarn reads or sets for a build, and the build tools' own that it steps aside for.
const std::regex kQuarnReads(
    "CMAKE_.*|CCACHE_.*|DISTCC_.*|QUARN_.*|MAKEFLAGS|CARGO_BUILD_JOBS|RUSTC_WRAPPER|CC|CXX");

struct Case {
  const char* what;
  std::string marker;
  std::vector<std::string> args;
  std::map<std::string, std::optional<std::string>> env;
  std::vector<std::string> installed;  // ninja, ccache, sccache, distcc: found on PATH
  // Lines the tool or quarn prints ("{n}": the processors, "{n+8}": eight more).
  std::vector<std::string> expected;
  std::vector<std::string> absent;                // text it must not print
  std::map<std::string, std::string> files = {};  // in the project, with their text
  std::vector<std::string> failing{};             // found on PATH, but "--version" fails
};

TEST(BuildSpeed, DefaultsWhereTheUserSetNothingAndJobsForEveryKind) {
  const std::string cmake = "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build";
  const Case cases[] = {
      // No generator of quarn's: the generator decides whether some builds work at all.
      {"CMake with Ninja and ccache installed",
       "CMakeLists.txt",
       {},
       {},
       {"ninja", "ccache"},
       {"CMAKE_BUILD_PARALLEL_LEVEL={n}", "CMAKE_C_COMPILER_LAUNCHER=ccache",
        "CMAKE_CXX_COMPILER_LAUNCHER=ccache", "CCACHE_DEPEND=1"},
       {"CMAKE_GENERATOR"}},
      {"ccache's own setting stays",
       "CMakeLists.txt",
       {},
       {{"CCACHE_NODEPEND", "1"}},
       {"ccache"},
       {"CCACHE_NODEPEND=1"},
       {"CCACHE_DEPEND"}},
      {"CMake where the user chose",
       "CMakeLists.txt",
       {},
       {{"CMAKE_BUILD_PARALLEL_LEVEL", "7"},
        {"CMAKE_GENERATOR", "Unix Makefiles"},
        {"CMAKE_C_COMPILER_LAUNCHER", "distcc"}},
       {"ninja", "ccache"},
       {"CMAKE_BUILD_PARALLEL_LEVEL=7", "CMAKE_GENERATOR=Unix Makefiles",
        "CMAKE_C_COMPILER_LAUNCHER=distcc"},
       {"ccache", "Ninja"}},
      {"CMake with the cache turned off",
       "CMakeLists.txt",
       {},
       {{"QUARN_NO_CACHE", "1"}},
       {"ccache"},
       {},
       {"LAUNCHER"}},
      {"CMake configured already keeps its generator",
       "CMakeLists.txt build/CMakeCache.txt",
       {},
       {},
       {"ninja"},
       {},
       {"CMAKE_GENERATOR"}},
      {"CMake without Ninja", "CMakeLists.txt", {}, {}, {}, {}, {"CMAKE_GENERATOR"}},
      {"CMake with sccache only",
       "CMakeLists.txt",
       {},
       {},
       {"sccache"},
       {"CMAKE_CXX_COMPILER_LAUNCHER=sccache"},
       {}},
      {"A ccache that does not work is passed over",
       "CMakeLists.txt",
       {},
       {},
       {"sccache"},
       {"CMAKE_C_COMPILER_LAUNCHER=sccache", "CMAKE_CXX_COMPILER_LAUNCHER=sccache"},
       {"=ccache", "CCACHE_DEPEND"},
       {},
       {"ccache"}},
      {"CMake -j wins over the environment",
       "CMakeLists.txt",
       {"-j", "3"},
       {{"CMAKE_BUILD_PARALLEL_LEVEL", "7"}},
       {},
       {"CMAKE_BUILD_PARALLEL_LEVEL=3"},
       {}},
      {"Make runs serially unless asked",
       "Makefile",
       {},
       {},
       {"ccache"},
       {"args: "},
       {"MAKEFLAGS"}},
      {"Make -j", "Makefile", {"--jobs=4"}, {{"MAKEFLAGS", "-k"}}, {}, {"MAKEFLAGS=-k -j4"}, {}},
      {"Cargo -j and sccache",
       "Cargo.toml",
       {"-j2"},
       {},
       {"sccache"},
       {"CARGO_BUILD_JOBS=2", "RUSTC_WRAPPER=sccache"},
       {}},
      {"Cargo keeps the user's wrapper",
       "Cargo.toml",
       {},
       {{"RUSTC_WRAPPER", "mine"}},
       {"sccache"},
       {"RUSTC_WRAPPER=mine"},
       {}},
      {"Meson -j", "meson.build", {"-j", "5"}, {}, {}, {"args: compile -C build -j 5"}, {}},
      {"Maven -j", "pom.xml", {"-j", "2"}, {}, {}, {"args: clean package -T 2"}, {}},
      {"Gradle -j", "build.gradle", {"-j", "2"}, {}, {}, {"args: build --max-workers=2"}, {}},
      {"Go -j", "go.mod", {"-j", "2"}, {}, {}, {"args: build -p 2 ./..."}, {}},
      {".NET -j", "App.csproj", {"-j", "2"}, {}, {}, {"args: build -c Release -m:2"}, {}},
      {"Zig -j", "build.zig", {"-j", "2"}, {}, {}, {"args: build -j2"}, {}},
      {"Swift -j", "Package.swift", {"-j", "2"}, {}, {}, {"args: build -c release -j 2"}, {}},
      {"Bazel -j", "MODULE.bazel", {"-j", "2"}, {}, {}, {"args: build --jobs=2 //..."}, {}},
      {"Stack -j", "stack.yaml", {"-j", "2"}, {}, {}, {"args: build -j 2"}, {}},
      {"Cabal -j", "app.cabal", {"-j", "2"}, {}, {}, {"args: build -j2 all"}, {}},
      // Spread over distcc hosts: "@farm/8" goes over ssh, which quarn leaves unchecked.
      {"CMake over hosts, distcc behind ccache",
       "CMakeLists.txt",
       {"--hosts", "@farm/8"},
       {},
       {"ccache", "distcc"},
       {"CMAKE_C_COMPILER_LAUNCHER=ccache", "CMAKE_CXX_COMPILER_LAUNCHER=ccache",
        "CCACHE_PREFIX=distcc", "CCACHE_DEPEND=1", "DISTCC_HOSTS=@farm/8 localhost/{n}",
        "CMAKE_BUILD_PARALLEL_LEVEL={n+8}",
        "[info] Spreading compiles with distcc over @farm/8 localhost/{n} ({n+8} jobs)"},
       {"DISTCC_FALLBACK"}},
      {"CMake over hosts with sccache only: distcc alone",
       "CMakeLists.txt",
       {"--hosts", "@farm/8"},
       {},
       {"sccache", "distcc"},
       {"[info] sccache cannot hand compiles to distcc: distcc without a compiler cache",
        "CMAKE_C_COMPILER_LAUNCHER=distcc", "CMAKE_CXX_COMPILER_LAUNCHER=distcc"},
       {"=sccache", "CCACHE_"}},
      {"CMake over hosts, no cache",
       "CMakeLists.txt",
       {"--hosts", "@farm/8"},
       {{"QUARN_NO_CACHE", "1"}},
       {"ccache", "distcc"},
       {"CMAKE_C_COMPILER_LAUNCHER=distcc", "DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {"CCACHE_"}},
      {"-j wins over the hosts' slots, the user's fallback stays",
       "CMakeLists.txt",
       {"--hosts", "@farm/8", "-j", "3"},
       {{"DISTCC_FALLBACK", "0"}},
       {"distcc"},
       {"CMAKE_BUILD_PARALLEL_LEVEL=3", "DISTCC_FALLBACK=0", "DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {}},
      {"CMake configured with ccache: its misses go to distcc",
       "CMakeLists.txt",
       {"--hosts", "@farm/8"},
       {},
       {"distcc"},
       {"CCACHE_PREFIX=distcc", "DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {"LAUNCHER"},
       {{"build/CMakeCache.txt", "CMAKE_C_COMPILER_LAUNCHER:STRING=ccache\n"}}},
      {"CMake configured without a launcher stays here",
       "CMakeLists.txt build/CMakeCache.txt",
       {"--hosts", "@farm/8"},
       {},
       {"ccache", "distcc"},
       {"[warning] build was configured without distcc: compiling on this machine (quarn "
        "rebuild configures it for the hosts)",
        "CMAKE_BUILD_PARALLEL_LEVEL={n}"},
       {"DISTCC", "Spreading"}},
      {"Make over hosts",
       "Makefile",
       {"--hosts", "@farm/8"},
       {},
       {"ccache", "distcc"},
       {"CC=ccache cc", "CXX=ccache c++", "CCACHE_PREFIX=distcc", "MAKEFLAGS=-j{n+8}",
        "DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {"CCACHE_DEPEND"}},
      {"Make with the user's compiler",
       "Makefile",
       {"--hosts", "@farm/8"},
       {{"CC", "gcc"}, {"MAKEFLAGS", "-j2"}},
       {"distcc"},
       {"CC=distcc gcc", "CXX=distcc c++", "MAKEFLAGS=-j2"},
       {}},
      {"Make with a compiler distcc's hosts refuse",
       "Makefile",
       {"--hosts", "@farm/8"},
       {{"CC", "/opt/cc/bin/gcc"}},
       {"distcc"},
       {"[warning] CC is '/opt/cc/bin/gcc': distcc cannot enter it, compiling on this machine"},
       {"DISTCC", "MAKEFLAGS"}},
      {"A makefile's own CC overrides the environment",
       "Makefile",
       {"--hosts", "@farm/8"},
       {},
       {"ccache", "distcc"},
       {"[warning] Makefile sets CC itself (gcc), over the environment: compiling on this "
        "machine"},
       {"DISTCC", "MAKEFLAGS", "\nCC="},
       {{"Makefile", "CC = gcc\nall:\n\t$(CC) -o hello hello.c\n"}}},
      {"Meson over hosts, set up with them",
       "meson.build",
       {"--hosts", "@farm/8"},
       {},
       {"ccache", "distcc"},
       {"args: setup build --buildtype=release", "args: compile -C build -j {n+8}", "CC=ccache cc",
        "CXX=ccache c++", "CCACHE_PREFIX=distcc"},
       {}},
      {"Meson configured without distcc says so",
       "meson.build build/meson-private/coredata.dat",
       {"--hosts", "@farm/8"},
       {},
       {"ccache", "distcc"},
       {"[warning] build was configured without distcc: compiling on this machine (quarn "
        "rebuild configures it for the hosts)",
        "args: compile -C build"},
       {"DISTCC", "setup", "\nCC="},
       {{"build/build.ninja", "rule c_COMPILER\n command = cc $ARGS -c $in\n"}}},
      {"Meson configured with ccache keeps its compilers",
       "meson.build build/meson-private/coredata.dat",
       {"--hosts", "@farm/8"},
       {},
       {"distcc"},
       {"CCACHE_PREFIX=distcc", "args: compile -C build -j {n+8}"},
       {"\nCC=", "setup"},
       {{"build/build.ninja", "rule c_COMPILER\n command = ccache cc $ARGS -c $in\n"}}},
      {"Cargo: distcc cannot help",
       "Cargo.toml",
       {"--hosts", "@farm/8"},
       {},
       {"sccache", "distcc"},
       {"[warning] distcc cannot help a Rust (Cargo) build: building on this machine",
        "RUSTC_WRAPPER=sccache"},
       {"DISTCC"}},
      {"Go: distcc cannot help",
       "go.mod",
       {"--hosts", "@farm/8"},
       {},
       {"distcc"},
       {"[warning] distcc cannot help a Go build: building on this machine"},
       {"DISTCC"}},
      {"Hosts of the environment: no word where distcc cannot help",
       "Cargo.toml",
       {},
       {{"DISTCC_HOSTS", "@farm/8"}},
       {"distcc"},
       {"DISTCC_HOSTS=@farm/8"},
       {"[warning]"}},
      {"distcc missing",
       "CMakeLists.txt",
       {"--hosts", "@farm/8"},
       {},
       {},
       {"[warning] distcc is not installed: building on this machine (Install: sudo apt install "
        "distcc)"},
       {"DISTCC"}},
      {"QUARN_HOSTS before the user's DISTCC_HOSTS",
       "CMakeLists.txt",
       {},
       {{"QUARN_HOSTS", "@farm/8"}, {"DISTCC_HOSTS", "@other/2"}},
       {"distcc"},
       {"DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {"other"}},
      {"The user's DISTCC_HOSTS, with localhost as listed",
       "CMakeLists.txt",
       {},
       {{"DISTCC_HOSTS", "localhost/1 @other/2"}},
       {"distcc"},
       {"DISTCC_HOSTS=localhost/1 @other/2", "CMAKE_BUILD_PARALLEL_LEVEL=3"},
       {}},
      {"--hosts \"\" builds here",
       "CMakeLists.txt",
       {"--hosts", ""},
       {{"QUARN_HOSTS", "@farm/8"}},
       {"distcc"},
       {"CMAKE_BUILD_PARALLEL_LEVEL={n}"},
       {"DISTCC", "Spreading"}},
      {"quarn.toml's hosts",
       "CMakeLists.txt",
       {},
       {{"QUARN_HOSTS", "@other/2"}},
       {"distcc"},
       {"DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {"other"},
       {{"quarn.toml", "hosts = [\"@farm/8\"]\n"}}},
      {"A host that does not answer is left out",
       "CMakeLists.txt",
       {"--hosts", "127.0.0.1:1 @farm/8"},
       {},
       {"distcc"},
       {"[warning] distcc hosts not answering, left out: 127.0.0.1:1",
        "DISTCC_HOSTS=@farm/8 localhost/{n}"},
       {}},
      {"No host answers",
       "CMakeLists.txt",
       {"--hosts", "127.0.0.1:1"},
       {},
       {"distcc"},
       {"[warning] No distcc host answers (127.0.0.1:1): building on this machine",
        "CMAKE_BUILD_PARALLEL_LEVEL={n}"},
       {"DISTCC", "Spreading"}},
  };
  std::string processors = test::runProgram({"nproc"}).out;
  processors.erase(processors.find('\n'));
  // "{n}" and "{n+K}" in a line, in numbers.
  const auto counted = [&processors](std::string line) {
    for (size_t at; (at = line.find("{n")) != std::string::npos;) {
      const size_t end = line.find('}', at);
      const std::string more = line.substr(at + 2, end - at - 2);
      const unsigned long count = std::stoul(processors) + (more.empty() ? 0 : std::stoul(more));
      line.replace(at, end - at + 1, std::to_string(count));
    }
    return line;
  };
  for (const Case& c : cases) {
    Workspace ws;
    ws.options.env["XDG_DATA_HOME"] = (ws.dir / "data").string();
    std::string markers = c.marker;
    for (size_t space; (space = markers.find(' ')) != std::string::npos;) {
      ws.dir.write("app/" + markers.substr(0, space));
      markers.erase(0, space + 1);
    }
    ws.dir.write("app/" + markers);
    for (const auto& [name, text] : c.files) ws.dir.write("app/" + name, text);
    for (const Kind& kind : kinds()) {
      for (const Tool* tool : kind.tools) ws.tools.add(std::string(tool->name), kShowEnvironment);
    }
    for (const std::string& tool : c.installed) ws.tools.add(tool, "true");
    for (const std::string& tool : c.failing) {
      ws.tools.add(tool, "echo 'cannot read config' >&2; exit 1");
    }
    ws.tools.linkSystem({"env", "grep", "sort"});
    // Only the row's settings: those of the shell running the tests (a developer's
    // CMAKE_CXX_COMPILER_LAUNCHER, CCACHE_DIR) would decide instead.
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string name(*entry, std::strcspn(*entry, "="));
      if (std::regex_match(name, kQuarnReads)) ws.options.env[name] = std::nullopt;
    }
    for (const auto& [name, value] : c.env) ws.options.env[name] = value;
    std::vector<std::string> args{"build", "app"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, 0) << c.what << result.out;
    for (const std::string& line : c.expected) {
      EXPECT_NE(result.out.find("\n" + counted(line) + "\n"), std::string::npos)
          << c.what << result.out;
    }
    // distcc keeps its locks in quarn's data folder, made for the build.
    if (result.out.find("[info] Spreading compiles") != std::string::npos) {
      const fs::path distccDir = ws.dir / "data/Quarn/distcc";
      EXPECT_NE(result.out.find("\nDISTCC_DIR=" + distccDir.string() + "\n"), std::string::npos)
          << c.what;
      EXPECT_TRUE(fs::is_directory(distccDir)) << c.what;
    }
    for (const std::string& text : c.absent) {
      EXPECT_EQ(result.out.find(text), std::string::npos) << c.what << ": " << text << "\n"
                                                          << result.out;
    }
    // The command shown stays today's: the defaults are the environment's.
    if (c.marker.rfind("CMakeLists.txt", 0) == 0) {
      EXPECT_NE(result.out.find("[info] Building with: " + cmake + " --config Release\n"),
                std::string::npos)
          << c.what;
    }
  }
}

}  // namespace
}  // namespace quarn
