// What quarn adds to a build to make it fast: environment defaults the user's own settings
// override, a compiler cache where one is installed, and --jobs for every kind.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::Workspace;

// A build tool that shows what it was given.
const char* const kShowEnvironment =
    "echo \"args: $*\"; env | grep -E '^(CMAKE_|CCACHE_|MAKEFLAGS|CARGO_BUILD_JOBS|RUSTC_WRAPPER)' "
    "| "
    "sort";

struct Case {
  const char* what;
  std::string marker;
  std::vector<std::string> args;
  std::map<std::string, std::optional<std::string>> env;
  std::vector<std::string> installed;  // ninja, ccache, sccache: found on PATH
  std::vector<std::string> expected;   // lines the tool prints ("{n}": the processors)
  std::vector<std::string> absent;     // text it must not print
  std::vector<std::string> failing{};  // found on PATH, but "--version" fails
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
  };
  std::string processors = test::runProgram({"nproc"}).out;
  processors.erase(processors.find('\n'));
  for (const Case& c : cases) {
    Workspace ws;
    std::string markers = c.marker;
    for (size_t space; (space = markers.find(' ')) != std::string::npos;) {
      ws.dir.write("app/" + markers.substr(0, space));
      markers.erase(0, space + 1);
    }
    ws.dir.write("app/" + markers);
    for (const char* tool : {"cmake", "make", "cargo", "meson", "mvn", "gradle", "go", "dotnet"}) {
      ws.tools.add(tool, kShowEnvironment);
    }
    for (const std::string& tool : c.installed) ws.tools.add(tool, "true");
    for (const std::string& tool : c.failing) {
      ws.tools.add(tool, "echo 'cannot read config' >&2; exit 1");
    }
    ws.tools.linkSystem({"env", "grep", "sort"});
    // What the user running the tests has set is no part of a row (the compiler launcher and
    // ccache's folders are often set for building quarn itself).
    for (const char* name :
         {"CMAKE_BUILD_PARALLEL_LEVEL", "CMAKE_GENERATOR", "CMAKE_C_COMPILER_LAUNCHER",
          "CMAKE_CXX_COMPILER_LAUNCHER", "CCACHE_DEPEND", "CCACHE_NODEPEND", "CCACHE_DIR",
          "CCACHE_BASEDIR", "MAKEFLAGS", "CARGO_BUILD_JOBS", "RUSTC_WRAPPER", "QUARN_NO_CACHE"}) {
      ws.options.env[name] = std::nullopt;
    }
    for (const auto& [name, value] : c.env) ws.options.env[name] = value;
    std::vector<std::string> args{"build", "app"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, 0) << c.what << result.out;
    for (std::string line : c.expected) {
      if (const size_t at = line.find("{n}"); at != std::string::npos) {
        line.replace(at, 3, processors);
      }
      EXPECT_NE(result.out.find("\n" + line + "\n"), std::string::npos) << c.what << result.out;
    }
    for (const std::string& text : c.absent) {
      EXPECT_EQ(result.out.find(text, result.out.find("\n\n")), std::string::npos)
          << c.what << ": " << text << "\n"
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
