// `quarn test` end to end with fake tools that print how they were called: the test step of each
// kind, its jobs setting, the arguments after "--", quarn.toml's test, and projects with no tests.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/environment.hpp"
#include "project/kinds.hpp"
#include "support/sketch.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

using test::Workspace;

// Prints the tool's name (`name` is a shell expression), its arguments and the jobs settings it
// was given, on one line.
std::string record(const std::string& name) {
  return "printf '%s' " + name +
         "; for a in \"$@\"; do printf ' %s' \"$a\"; done\n"
         "for v in MAKEFLAGS CMAKE_BUILD_PARALLEL_LEVEL CARGO_BUILD_JOBS; do\n"
         "  eval \"x=\\${$v-}\"; if [ -n \"$x\" ]; then printf ' %s=%s' \"$v\" \"$x\"; fi\n"
         "done\necho";
}

// A program of the project's own, which records itself by the path it was run as.
const std::string kOwnScript = record("\"$0\"");

// Every tool of the kind table's builds, tests and wrappers, and the programs rules add.
std::vector<std::string> allTools() {
  std::vector<std::string> names{"ctest", "autoreconf"};
  for (const Kind& kind : kinds()) {
    std::vector<const Tool*> used = kind.tools;
    used.insert(used.end(), kind.testTools.begin(), kind.testTools.end());
    used.push_back(kind.wrapper.needs);
    for (const Tool* tool : used) {
      if (tool != nullptr && std::find(names.begin(), names.end(), tool->name) == names.end()) {
        names.emplace_back(tool->name);
      }
    }
  }
  return names;
}

struct Case {
  std::map<std::string, std::string> files;  // sketches in "app" (see makeEntry) and contents
  std::vector<std::string> options;          // after "test app"
  std::string testing;  // the "Testing with:" line; empty: there are no tests to run
  std::string ran;      // what the tools printed, a line each
  int status = 0;
  std::string failing = {};  // a tool that fails after printing
  std::string absent = {};   // a tool that is not installed
  std::string tail = {};     // what the output ends with, when not what the fields above make
  bool quiet = false;        // `tail` is the whole output
};

TEST(TestCommand, EachKindRunsItsOwnTestStep) {
  const std::string level =
      " CMAKE_BUILD_PARALLEL_LEVEL=" + std::to_string(platform::availableProcessors());
  const std::string cmakeBuild =
      "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --config Release";
  const std::string ctest = "ctest --test-dir build --output-on-failure";
  // What the fake cmake and ctest print, each with the jobs setting they were given.
  const auto cmakeRan = [&ctest](const std::string& setting, const std::string& ctestArguments) {
    return "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release" + setting +
           "\ncmake --build build --config Release" + setting + "\n" + ctest + ctestArguments +
           setting;
  };
  const std::string mesonBuild = "meson setup build --buildtype=release && meson compile -C build";
  const std::string npmTest = R"({"scripts": {"test": "jest"}})";
  const std::string noTests = "[info] No tests to run\n";
  // clang-format off
  const std::vector<Case> cases = {
      // A row per kind.
      {{{"App.csproj", ""}}, {}, "dotnet test -c Release", "dotnet test -c Release"},
      {{{"CMakeLists.txt", ""}}, {}, cmakeBuild + " && " + ctest, cmakeRan(level, "")},
      {{{"Cargo.toml", ""}}, {}, "cargo test", "cargo test"},
      {{{"Makefile", "all:\n\ttrue\ntest: all\n\ttrue\n"}}, {}, "make test", "make test"},
      {{{"build.gradle", ""}}, {}, "gradle test", "gradle test"},
      {{{"package.json", npmTest}}, {}, "npm test", "npm test"},
      {{{"pom.xml", ""}}, {}, "mvn test", "mvn test"},
      {{{"pyproject.toml", ""}}, {}, "python3 -m unittest", "python3 -m unittest"},
      {{{"go.mod", ""}}, {}, "go test ./...", "go test ./..."},
      {{{"meson.build", ""}}, {}, mesonBuild + " && meson test -C build",
       "meson setup build --buildtype=release\nmeson compile -C build\nmeson test -C build"},
      {{{"configure!", kOwnScript}}, {}, "./configure && make && make check",
       "./configure\nmake\nmake check"},
      {{{"dune-project", ""}}, {}, "dune test", "dune test"},
      {{{"mix.exs", ""}}, {}, "mix test", "mix test"},
      {{{"build.zig", ""}}, {}, "zig build test", "zig build test"},
      {{{"Package.swift", ""}}, {}, "swift test", "swift test"},
      {{{"deno.json", R"({"tasks": {"build": "deno run b.ts"}})"}}, {}, "deno test", "deno test"},
      {{{"MODULE.bazel", ""}}, {}, "bazel test //...", "bazel test //..."},
      {{{"stack.yaml", ""}}, {}, "stack test", "stack test"},
      {{{"app.cabal", ""}}, {}, "cabal test all", "cabal test all"},
      {{{"composer.json", R"({"scripts": {"test": "phpunit"}})"}}, {},
       "composer install && composer test", "composer install\ncomposer test"},
      {{{"Gemfile", ""}, {"spec/", ""}}, {}, "bundle install && bundle exec rspec",
       "bundle install\nbundle exec rspec"},
      {{{"build.sbt", ""}}, {}, "sbt test", "sbt test"},
      {{{"pubspec.yaml", ""}}, {}, "dart test", "dart test"},
      {{{"pubspec.yaml", "dependencies:\n  flutter:\n    sdk: flutter\n"}}, {}, "flutter test",
       "flutter test"},
      {{{"package.json", npmTest}, {"pnpm-lock.yaml", ""}}, {}, "pnpm test", "pnpm test"},
      {{{"package.json", npmTest}, {"yarn.lock", ""}}, {}, "yarn test", "yarn test"},
      {{{"package.json", npmTest}, {"bun.lock", ""}}, {}, "bun run test", "bun run test"},
      {{{"pyproject.toml", ""}, {"uv.lock", ""}}, {}, "uv run python -m unittest",
       "uv run python -m unittest"},
      {{{"pyproject.toml", ""}, {"poetry.lock", ""}}, {}, "poetry run python -m unittest",
       "poetry run python -m unittest"},
      {{{"Makefile", "test:\n"}}, {"--kind", "cargo"}, "cargo test", "cargo test"},
      // What the folder holds besides the marker.
      {{{"Makefile", "all:\n\ttrue\ncheck: all\n\ttrue\n"}}, {}, "make check", "make check"},
      {{{"GNUmakefile", "check:\n"}, {"Makefile", "test:\n"}}, {}, "make check", "make check"},
      {{{"Makefile/", ""}}, {}, "make test", "make test"},  // unreadable: make says what is wrong
      {{{"package.json", R"({"scripts": {"test": "jest"}, "devDependencies": {"jest": "29"}})"},
        {"package-lock.json", ""}},
       {}, "npm ci && npm test", "npm ci\nnpm test"},
      {{{"package.json", "[1, 2]"}}, {}, "npm test", "npm test"},  // npm says what is wrong
      {{{"pom.xml", ""}, {"mvnw!", kOwnScript}}, {}, "./mvnw test", "./mvnw test"},
      {{{"pyproject.toml", "[project]\nname = \"x\"\n\n[ tool.pytest.ini_options ]  # pytest\n"}},
       {}, "python3 -m pytest", "python3 -m pytest"},
      {{{"pyproject.toml", "[tool.pytest]\n"}}, {}, "python3 -m pytest", "python3 -m pytest"},
      {{{"setup.py", ""}, {"pytest.ini", ""}}, {}, "python3 -m pytest", "python3 -m pytest"},
      {{{"setup.py", ""}, {"conftest.py", ""}}, {}, "python3 -m pytest", "python3 -m pytest"},
      {{{"setup.py", ""}, {"tox.ini", "[tox]\nenvlist = py3\n\n[pytest]\n"}}, {},
       "python3 -m pytest", "python3 -m pytest"},
      {{{"setup.py", ""}, {"tox.ini", "[tox]\nenvlist = py3\n"}}, {}, "python3 -m unittest",
       "python3 -m unittest"},
      {{{"setup.py", ""}, {"setup.cfg", "[metadata]\nname = x\n[tool:pytest]\n"}}, {},
       "python3 -m pytest", "python3 -m pytest"},
      {{{"pyproject.toml", ""}, {"pytest.ini", ""}, {".venv/bin/pip!", ""},
        {".venv/bin/python3!", kOwnScript}},
       {}, ".venv/bin/python3 -m pytest", ".venv/bin/python3 -m pytest"},
      {{{"pyproject.toml", ""}, {"uv.lock", ""}, {"conftest.py", ""}}, {}, "uv run pytest",
       "uv run pytest"},
      {{{"pyproject.toml", ""}, {"poetry.lock", ""}, {"pytest.ini", ""}}, {}, "poetry run pytest",
       "poetry run pytest"},
      // -j through each kind's own setting; the build run first takes its own where it is a
      // variable.
      {{{"App.csproj", ""}}, {"-j", "2"}, "dotnet test -c Release -m:2", "dotnet test -c Release -m:2"},
      {{{"CMakeLists.txt", ""}}, {"-j3"}, cmakeBuild + " && " + ctest + " -j 3",
       cmakeRan(" CMAKE_BUILD_PARALLEL_LEVEL=3", " -j 3")},
      {{{"Cargo.toml", ""}}, {"-j2"}, "cargo test", "cargo test CARGO_BUILD_JOBS=2"},
      {{{"Makefile", "test:\n"}}, {"--jobs=4"}, "make test", "make test MAKEFLAGS=-j4"},
      {{{"build.gradle", ""}}, {"-j2"}, "gradle test --max-workers=2", "gradle test --max-workers=2"},
      {{{"pom.xml", ""}}, {"-j2"}, "mvn test -T 2", "mvn test -T 2"},
      {{{"go.mod", ""}}, {"-j2"}, "go test -p 2 ./...", "go test -p 2 ./..."},
      {{{"meson.build", ""}}, {"-j2"}, mesonBuild + " && meson test -C build --num-processes 2",
       "meson setup build --buildtype=release\nmeson compile -C build\n"
       "meson test -C build --num-processes 2"},
      {{{"configure!", kOwnScript}}, {"-j2"}, "./configure && make && make check",
       "./configure MAKEFLAGS=-j2\nmake MAKEFLAGS=-j2\nmake check MAKEFLAGS=-j2"},
      {{{"dune-project", ""}}, {"-j2"}, "dune test -j 2", "dune test -j 2"},
      {{{"build.zig", ""}}, {"-j2"}, "zig build test -j2", "zig build test -j2"},
      {{{"Package.swift", ""}}, {"-j2"}, "swift test -j 2", "swift test -j 2"},
      {{{"MODULE.bazel", ""}}, {"-j2"}, "bazel test --jobs=2 //...", "bazel test --jobs=2 //..."},
      {{{"stack.yaml", ""}}, {"-j2"}, "stack test -j 2", "stack test -j 2"},
      {{{"app.cabal", ""}}, {"-j2"}, "cabal test -j2 all", "cabal test -j2 all"},
      {{{"package.json", npmTest}}, {"-j2"}, "npm test", "npm test"},
      // Arguments after "--" go to the test step.
      {{{"package.json", npmTest}}, {"--", "--watch", "a b"}, "npm test -- --watch 'a b'",
       "npm test -- --watch a b"},
      {{{"pyproject.toml", ""}, {"pytest.ini", ""}}, {"--", "-k", "parser"},
       "python3 -m pytest -k parser", "python3 -m pytest -k parser"},
      {{{"go.mod", ""}}, {"-j2", "--", "-run", "TestX"}, "go test -p 2 -run TestX ./...",
       "go test -p 2 -run TestX ./..."},
      {{{"CMakeLists.txt", ""}}, {"--", "-R", "unit"}, cmakeBuild + " && " + ctest + " -R unit",
       cmakeRan(level, " -R unit")},
      // quarn.toml: its test, or its build before the kind's tests, are the project's own
      // commands, which get no settings of quarn's.
      {{{"Makefile", "test:\n"}, {"quarn.toml", "test = \"./check.sh --all\"\n"},
        {"check.sh!", kOwnScript}},
       {"-j2"}, "./check.sh --all", "./check.sh --all"},
      {{{"CMakeLists.txt", ""}, {"quarn.toml", "build = \"./go.sh\"\n"}, {"go.sh!", kOwnScript}},
       {"-j3"}, "./go.sh && " + ctest + " -j 3", "./go.sh\n" + ctest + " -j 3"},
      {{{"CMakeLists.txt", ""}, {"quarn.toml", "build = \"./go.sh  # mine\"\n"},
        {"go.sh!", kOwnScript}},
       {}, "{ ./go.sh  # mine\\n} && " + ctest, "./go.sh\n" + ctest},
      {{{"Makefile", "test:\n"}, {"quarn.toml", "test = \"./t.sh  # all\"\n"},
        {"t.sh!", kOwnScript}},
       {"--", "-k", "x"}, "./t.sh -k x  # all", "./t.sh -k x"},
      {{{"Makefile", "test:\n"}, {"quarn.toml", "test = \"./t.sh;\"\n"}}, {"--", "-k"}, "", "", 1,
       "", "",
       "[error] app/quarn.toml:1:8: arguments after -- go at the end of 'test', which ends in ';': "
       "they would not reach its last command\n"},
      {{{"Makefile", "test:\n"}, {"quarn.toml", "test = \" \"\n"}}, {}, "", "", 0, "", "",
       noTests},
      {{{"quarn.toml", "build = \"./go.sh\"\n"}}, {}, "", "", 0, "", "", noTests},
      {{{"quarn.toml", "build = \"./go.sh\"\ntest = \"./t.sh\"\n"}, {"t.sh!", kOwnScript}}, {},
       "./t.sh", "./t.sh"},
      // No tests: nothing runs, and that is no failure.
      {{{"Makefile", "all:\n\ttrue\n# test: only a comment\n"}}, {}, "", "", 0, "", "", noTests},
      {{{"package.json", R"({"scripts": {"build": "tsc"}, "dependencies": {"a": "1"}})"}}, {}, "",
       "", 0, "", "", noTests},
      {{{"package.json", "{}"}}, {}, "", "", 0, "", "", noTests},
      {{{"package.json",
         R"({"scripts": {"test": "echo \"Error: no test specified\" && exit 1"}})"}},
       {}, "", "", 0, "", "", noTests},
      {{{"Makefile", ""}}, {"-q"}, "", "", 0, "", "", noTests, true},
      {{{"Makefile", ""}}, {"-n"}, "", "", 0, "", "", noTests},
      // Failures, a missing tool, quiet and dry runs, as for build.
      {{{"Cargo.toml", ""}}, {}, "cargo test", "cargo test", 1, "cargo"},
      {{{"pyproject.toml", ""}}, {}, "", "", 1, "", "python3",
       "[error] Build tool 'python3' is missing, please install it to continue\n"
       "[info] Install: sudo apt install python3\n"},
      {{{"Cargo.toml", ""}}, {"-q"}, "", "", 0, "", "",
       "cargo test\n[info] ✓ Tests passed (0s)\n", true},
      {{{"Makefile", "test:\n"}}, {"-n", "-j2"}, "", "", 0, "", "",
       "[info] Build tool 'make' validated\n[info] Testing with: make test\n"
       "[info] Environment: MAKEFLAGS=-j2\n[info] Dry run: nothing was run\n"},
  };
  // clang-format on
  for (const Case& c : cases) {
    Workspace ws;
    std::string shown;
    for (const auto& [sketch, content] : c.files) {
      test::makeEntry(ws.dir, "app/" + sketch, content);
      shown += sketch + " ";
    }
    for (const std::string& tool : allTools()) {
      if (tool == c.absent) continue;
      ws.tools.add(tool, record("\"${0##*/}\"") + (tool == c.failing ? "\nexit 1" : ""));
    }
    for (const char* name : {"MAKEFLAGS", "CMAKE_BUILD_PARALLEL_LEVEL", "CARGO_BUILD_JOBS"}) {
      ws.options.env[name] = std::nullopt;
    }
    std::vector<std::string> args{"test", "app"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    SCOPED_TRACE(shown + ::testing::PrintToString(c.options));
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, c.status) << result.out;
    std::string tail = c.tail;
    if (tail.empty()) {
      tail = "[info] Testing with: " + c.testing + "\n\n" + c.ran + "\n\n" +
             (c.status == 0 ? "[info] ✓ Tests passed (0s)\n" : "[error] ✗ Tests failed (0s)\n");
    }
    if (c.quiet) {
      EXPECT_EQ(result.out, tail);
    } else {
      EXPECT_GE(result.out.size(), tail.size());
      EXPECT_EQ(result.out.substr(result.out.size() - std::min(tail.size(), result.out.size())),
                tail);
    }
  }
}

}  // namespace
}  // namespace quarn
