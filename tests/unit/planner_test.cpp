// The plan quarn makes for folders shaped like real public projects: the names at their root (no
// content copied), and the package.json fields or makefile rules that matter.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project/planner.hpp"
#include "project/project_detector.hpp"
#include "support/sketch.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

using test::makeEntry;
using test::TempDir;

struct Case {
  const char* like;  // the kind of project the listing is modelled on
  // Sketches, see makeEntry; those that begin with "/" go into a folder of the system's own, whose
  // usr/bin is the search path.
  std::vector<std::string> entries;
  std::map<std::string, std::string> files;  // files with content that matters
  // display name | build command | tools | clean, and " | " and the note when there is one
  std::string plan;
  // More of the plan: "test: COMMAND", "decidedBy: FILE, FILE" ("{system}" for the system's
  // folder), "pinned: TOOL VERSION" (empty when nothing is).
  std::vector<std::string> also = {};
  const char* project = "";                    // the project folder, when not the root
  std::optional<std::string> virtualEnv = {};  // VIRTUAL_ENV
};

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// The part of the plan that a line of Case::also names, in that line's form.
std::string described(const BuildConfig& config, const std::string& key) {
  if (key == "test") return config.test.command.line();
  if (key == "decidedBy") return joined(config.evidence);
  if (key == "pinned") {
    return config.pinned ? config.pinned->tool + " " + config.pinned->version + " (" +
                               config.pinned->file + ")"
                         : "";
  }
  return "no such part: " + key;
}

const char* const kMakefileWithClean =
    "all: app\n\tcc -o app app.c\n\n.PHONY: clean\nclean:\n\trm -f app\n";

TEST(Planner, PlansRealProjectsAsTheirDevelopersBuildThem) {
  const Case cases[] = {
      {"a Maven and Gradle sample with both wrappers",
       {".mvn/", "build.gradle", "gradle/", "gradlew!", "gradlew.bat", "mvnw!", "mvnw.cmd",
        "pom.xml", "settings.gradle", "src/", "README.md"},
       {},
       "Java (Maven) | ./mvnw clean package | java | "},
      {"a Gradle build in Kotlin script with its wrapper",
       {"build.gradle.kts", "gradle/", "gradlew!", "gradlew.bat", "settings.gradle.kts",
        "gradle.properties", "documentation/", "README.md"},
       {},
       "Java (Gradle) | ./gradlew build | java | "},
      {"a Gradle build whose wrapper lost its execute bit",
       {"build.gradle", "gradlew", "settings.gradle", "src/"},
       {},
       "Java (Gradle) | gradle build | gradle | "},
      {"a Maven library without a wrapper",
       {"pom.xml", "src/", ".github/", "LICENSE"},
       {},
       "Java (Maven) | mvn clean package | mvn | "},
      {"a Rust command-line tool",
       {"Cargo.toml", "Cargo.lock", "crates/", "build.rs", "tests/", "README.md"},
       {},
       "Rust (Cargo) | cargo build --release | cargo | cargo clean"},
      {"a Rust tool with Python bindings",
       {"Cargo.toml", "Cargo.lock", "pyproject.toml", "crates/", "python/", "docs/"},
       {},
       "Rust (Cargo) | cargo build --release | cargo | cargo clean"},
      {"a Go static site generator",
       {"go.mod", "go.sum", "main.go", "commands/", "hugolib/", "README.md"},
       {},
       "Go | go build ./... | go | go clean"},
      {"a Go monorepo driven by its Makefile",
       {"go.mod", "go.work", "go.sum", "cmd/", "pkg/", "hack/", "build/"},
       {{"Makefile", kMakefileWithClean}},
       "C (Make) | make | make | make clean"},
      {"a C library whose makefile has no clean target",
       {"lib/", "programs/"},
       {{"GNUmakefile", "all:\n\t$(MAKE) -C lib\nclean-all:\n\trm -rf out\n"}},
       "C (Make) | make | make | "},
      // Make reads neither as a rule.
      {"a makefile that sets a variable for its clean target",
       {},
       {{"Makefile", "all:\n\tcc -o app app.c\nclean: CFLAGS += -O0\n"}},
       "C (Make) | make | make | "},
      {"a makefile that keeps a clean rule in the text of a variable",
       {},
       {{"Makefile", "all:\n\ttrue\noverride define CLEAN_RULE\nclean:\n\trm -f app\nendef\n"}},
       "C (Make) | make | make | "},
      {"an init system built with Meson",
       {"meson.build", "meson_options.txt", "src/", "man/", "test/", "README"},
       {},
       "C/C++ (Meson) | meson setup build --buildtype=release && meson compile -C build | meson "
       "| "},
      {"a Meson project configured already",
       {"meson.build", "build/meson-private/coredata.dat", "src/"},
       {},
       "C/C++ (Meson) | meson compile -C build | meson | "},
      {"a transfer library with CMake and autotools",
       {"CMakeLists.txt", "configure.ac", "Makefile.am", "acinclude.m4", "lib/", "src/"},
       {},
       "C++ (CMake) | cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build "
       "--config Release | cmake | "},
      {"a terminal multiplexer from its repository",
       {"autogen.sh", "configure.ac", "Makefile.am", "compat/", "tmux.c", "README"},
       {},
       "C (Autotools) | sh autogen.sh && ./configure && make | make, autoreconf | "},
      {"an autotools project without autogen.sh",
       {"configure.ac", "Makefile.am", "src/"},
       {},
       "C (Autotools) | autoreconf -fi && ./configure && make | make, autoreconf | "},
      {"a GNU release tarball",
       {"configure!", "configure.ac", "Makefile.am", "Makefile.in", "aclocal.m4", "src/"},
       {},
       "C (Autotools) | ./configure && make | make | "},
      {"a JavaScript build tool on pnpm",
       {"pnpm-lock.yaml", "pnpm-workspace.yaml", "packages/", "docs/"},
       {{"package.json",
         R"({"private": true, "packageManager": "pnpm@9.15.0",
             "scripts": {"build": "pnpm -r build", "test": "vitest"},
             "devDependencies": {"typescript": "5"}})"}},
       "JavaScript (pnpm) | pnpm install --frozen-lockfile && pnpm run build | pnpm | ",
       {"decidedBy: package.json, pnpm-lock.yaml", "pinned: pnpm 9.15.0 (package.json)",
        "test: pnpm install --frozen-lockfile && pnpm test"}},
      {"a UI library on yarn 1",
       {"yarn.lock", "packages/", "scripts/", "fixtures/"},
       {{"package.json",
         R"({"private": true, "scripts": {"build": "node ./scripts/build.js", "clean": "rm -rf build"},
             "devDependencies": {"rollup": "3"}})"}},
       "JavaScript (yarn) | yarn install --frozen-lockfile && yarn run build | yarn | yarn run "
       "clean"},
      {"a test runner on yarn 4",
       {"yarn.lock", ".yarnrc.yml", "packages/"},
       {{"package.json",
         R"({"packageManager": "yarn@4.5.0", "scripts": {"build": "node build.mjs"},
             "devDependencies": {"typescript": "5"}})"}},
       "JavaScript (yarn) | yarn install --immutable && yarn run build | yarn | "},
      {"a web framework with no build script and no lockfile",
       {"index.js", "lib/", "test/", "History.md"},
       {{"package.json",
         R"({"scripts": {"test": "mocha"}, "dependencies": {"accepts": "1"},
             "devDependencies": {"mocha": "10"}})"}},
       "JavaScript (npm) | npm install | npm |  | package.json has no build script"},
      {"the same framework installed already",
       {"index.js", "node_modules/", "package-lock.json"},
       {{"package.json", R"({"scripts": {"test": "mocha"}, "dependencies": {"accepts": "1"}})"}},
       "JavaScript (npm) |  | npm |  | package.json has no build script"},
      {"an npm package with a lockfile, installed",
       {"package-lock.json", "node_modules/", "src/"},
       {{"package.json",
         R"({"scripts": {"build": "tsc"}, "devDependencies": {"typescript": "5"}})"}},
       "JavaScript (npm) | npm run build | npm | "},
      {"an npm package with a lockfile, fresh from git",
       {"npm-shrinkwrap.json", "src/"},
       {{"package.json",
         R"({"scripts": {"build": "tsc"}, "devDependencies": {"typescript": "5"}})"}},
       "JavaScript (npm) | npm ci && npm run build | npm | "},
      {"an HTTP framework on bun, fresh from git",
       {"bun.lock", "src/", "test/", "example/"},
       {{"package.json",
         R"({"scripts": {"build": "bun build", "test": "bun test"}, "dependencies": {"hono": "4"}})"}},
       "JavaScript (bun) | bun install --frozen-lockfile && bun run build | bun | ",
       {"test: bun install --frozen-lockfile && bun run test",
        "decidedBy: package.json, bun.lock"}},
      {"a package on bun with the binary lockfile of bun 1.1",
       {"bun.lockb", "src/"},
       {{"package.json",
         R"({"packageManager": "bun@1.1.30+sha256.0a1b", "scripts": {"build": "tsc"},
             "devDependencies": {"typescript": "5"}})"}},
       "JavaScript (bun) | bun install --frozen-lockfile && bun run build | bun | ",
       {"decidedBy: package.json, bun.lockb", "pinned: bun 1.1.30 (package.json)"}},
      {"a package on bun without a lockfile",
       {"src/"},
       {{"package.json",
         R"({"packageManager": "bun@1.2.0", "scripts": {"build": "tsc"},
             "devDependencies": {"typescript": "5"}})"}},
       "JavaScript (bun) | bun install && bun run build | bun | "},
      {"a package whose manifest is empty",
       {"src/"},
       {{"package.json", "{}"}},
       "JavaScript (npm) | npm run build | npm | "},
      {"a pnpm workspace member, its lockfile at the repository root",
       {".git/", "pnpm-lock.yaml", "packages/vite/src/"},
       {{"package.json", R"({"private": true})"},
        {"packages/vite/package.json",
         R"({"scripts": {"build": "rollup -c"}, "devDependencies": {"rollup": "4"}})"}},
       "JavaScript (pnpm) | pnpm install --frozen-lockfile && pnpm run build | pnpm | ",
       {},
       "packages/vite"},
      {"an HTTP library for Python",
       {"pyproject.toml", "setup.py", "setup.cfg", "src/", "tests/"},
       {},
       "Python (pip) | pip install -e . | pip | "},
      {"the same library with a project virtual environment",
       {"pyproject.toml", "src/", ".venv/bin/pip!"},
       {},
       "Python (pip) | .venv/bin/pip install -e . | .venv/bin/pip | "},
      {"the same, with another environment active",
       {"pyproject.toml", "src/", ".venv/bin/pip!"},
       {},
       "Python (pip) | pip install -e . | pip | ",
       {},
       "",
       "/opt/other-venv"},
      {"an HTTP library for Python on Debian 12, fresh from git",
       {"pyproject.toml", "setup.py", "setup.cfg", "src/", "tests/", "/usr/bin/python3.11!",
        "/usr/bin/python3 -> python3.11", "/usr/lib/python3.11/os.py",
        "/usr/lib/python3.11/EXTERNALLY-MANAGED", "/usr/lib/python3.11/ensurepip/__init__.py"},
       {},
       "Python (pip) | python3 -m venv .venv && .venv/bin/pip install -e . | python3 | ",
       {"decidedBy: pyproject.toml, {system}/usr/lib/python3.11/EXTERNALLY-MANAGED"}},
      {"the same, without Debian's python3-venv",
       {"pyproject.toml", "src/", "/usr/bin/python3!", "/usr/lib/python3.11/os.py",
        "/usr/lib/python3.11/EXTERNALLY-MANAGED"},
       {},
       "Python (pip) | python3 -m venv .venv && .venv/bin/pip install -e . | python3, python3-venv "
       "| "},
      {"the same on Arch, whose lib64 is lib",
       {"setup.py", "/usr/bin/python3.12!", "/usr/bin/python3 -> python3.12",
        "/usr/lib/python3.12/os.py", "/usr/lib/python3.12/EXTERNALLY-MANAGED",
        "/usr/lib/python3.12/ensurepip/__init__.py", "/usr/lib64 -> lib"},
       {},
       "Python (pip) | python3 -m venv .venv && .venv/bin/pip install -e . | python3 | "},
      {"the same on Fedora, whose library is in lib64",
       {"setup.py", "/usr/bin/python3!", "/usr/lib/python3.12/site-packages/",
        "/usr/lib64/python3.12/os.py", "/usr/lib64/python3.12/EXTERNALLY-MANAGED",
        "/usr/lib64/python3.12/ensurepip/__init__.py"},
       {},
       "Python (pip) | python3 -m venv .venv && .venv/bin/pip install -e . | python3 | "},
      {"the same with its project environment made already",
       {"pyproject.toml", ".venv/bin/pip!", "/usr/bin/python3!", "/usr/lib/python3.11/os.py",
        "/usr/lib/python3.11/EXTERNALLY-MANAGED"},
       {},
       "Python (pip) | .venv/bin/pip install -e . | .venv/bin/pip | "},
      {"the same with another environment active",
       {"pyproject.toml", "/usr/bin/python3!", "/usr/lib/python3.11/os.py",
        "/usr/lib/python3.11/EXTERNALLY-MANAGED"},
       {},
       "Python (pip) | pip install -e . | pip | ",
       {},
       "",
       "/opt/other-venv"},
      {"a virtual environment's interpreter first on the search path",
       {"pyproject.toml", "/usr/bin/python3!", "/usr/pyvenv.cfg", "/usr/lib/python3.11/os.py",
        "/usr/lib/python3.11/EXTERNALLY-MANAGED"},
       {},
       "Python (pip) | pip install -e . | pip | "},
      {"an interpreter its distribution does not manage",
       {"pyproject.toml", "/usr/bin/python3!", "/usr/lib/python3.11/os.py"},
       {},
       "Python (pip) | pip install -e . | pip | "},
      {"Ubuntu's interpreter beside a second Python of its own making",
       {"pyproject.toml", "/usr/bin/python3.12!", "/usr/bin/python3 -> python3.12",
        "/usr/lib/python3.12/os.py", "/usr/lib/python3.12/EXTERNALLY-MANAGED",
        "/usr/lib/python3.12/ensurepip/__init__.py", "/usr/bin/python3.13!",
        "/usr/lib/python3.13/os.py"},
       {},
       "Python (pip) | python3 -m venv .venv && .venv/bin/pip install -e . | python3 | "},
      {"a python3 that names no version, beside the libraries of two",
       {"pyproject.toml", "/usr/bin/python3!", "/usr/lib/python3.11/os.py",
        "/usr/lib/python3.11/EXTERNALLY-MANAGED", "/usr/lib/python3.12/os.py",
        "/usr/lib/python3.12/EXTERNALLY-MANAGED"},
       {},
       "Python (pip) | pip install -e . | pip | "},
      {"a Python project on Poetry",
       {"pyproject.toml", "poetry.lock", "src/", "tests/"},
       {},
       "Python (Poetry) | poetry install | poetry | "},
      {"a Python project on uv",
       {"pyproject.toml", "uv.lock", "src/"},
       {},
       "Python (uv) | uv sync | uv | "},
      {"a C library whose solution holds only Visual C++ projects",
       {"CMakeLists.txt", "makefile", "bn_add.c", "tommath.h"},
       {{"libtommath_VS2008.sln",
         "Microsoft Visual Studio Solution File, Format Version 10.00\r\n"
         "Project(\"{8BC9CEB8-8B4A-11D0-8D11-00A0C91BC942}\") = \"libtommath\", "
         "\"libtommath_VS2008.vcproj\", \"{42109FEE-B0B9-4FCD-9E56-2863BF8C55D2}\"\r\n"
         "EndProject\r\n"}},
       "C++ (CMake) | cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build "
       "--config Release | cmake | "},
      {"a solution of C# and C++ projects, with a solution folder",
       {"CMakeLists.txt"},
       {{"App.sln",
         "Project(\"{2150E333-8FDC-42A3-9474-1A3956D46DE8}\") = \"docs\", \"docs\", \"{1}\"\n"
         "Project(\"{8BC9CEB8-8B4A-11D0-8D11-00A0C91BC942}\") = \"Native\", "
         "\"native\\Native.vcxproj\", \"{2}\"\n"
         "Project(\"{FAE04EC0-301F-11D3-BF4B-00C04F79EFBC}\") = \"App\", \"App\\App.csproj\", "
         "\"{3}\"\n"}},
       "C# (.NET) | dotnet build -c Release | dotnet | dotnet clean -c Release"},
      {"a solution that lists no project",
       {"CMakeLists.txt"},
       {{"Empty.sln", "Microsoft Visual Studio Solution File, Format Version 12.00\n"}},
       "C# (.NET) | dotnet build -c Release | dotnet | dotnet clean -c Release"},
      {"a .NET decompiler",
       {"ILSpy.sln", "ILSpy/", "ICSharpCode.Decompiler/", "global.json"},
       {},
       "C# (.NET) | dotnet build -c Release | dotnet | dotnet clean -c Release"},
      {"a JSON library with every build system",
       {"CMakeLists.txt", "Makefile", "meson.build", "BUILD.bazel", "MODULE.bazel", "include/"},
       {},
       "C++ (CMake) | cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build "
       "--config Release | cmake | "},
      {"an OCaml library",
       {"dune-project", "lib/", "bin/", "test/", "x.opam"},
       {},
       "OCaml (Dune) | dune build | dune | dune clean"},
      {"an Elixir web framework, fresh from git",
       {"mix.exs", "mix.lock", "lib/", "test/", "config/"},
       {},
       "Elixir (Mix) | mix deps.get && mix compile | mix | mix clean",
       {"test: mix deps.get && mix test", "decidedBy: mix.exs, mix.lock"}},
      {"the same framework, its dependencies fetched",
       {"mix.exs", "mix.lock", "deps/", "lib/"},
       {},
       "Elixir (Mix) | mix compile | mix | mix clean",
       {"test: mix test"}},
      {"an Elixir JSON library without a lockfile",
       {"lib/", "test/", "bench/", ".formatter.exs"},
       {{"mix.exs", R"(defmodule Jason.Mixfile do
  use Mix.Project

  def project() do
    [app: :jason, version: "1.4.4", deps: deps(), docs: docs()]
  end

  defp deps() do
    [
      {:decimal, "~> 1.0 or ~> 2.0", optional: true},
      {:benchee, "~> 1.0", only: :bench}
    ]
  end
end
)"}},
       "Elixir (Mix) | mix deps.get && mix compile | mix | mix clean",
       {"decidedBy: mix.exs"}},
      {"an Elixir library whose dependencies differ by environment",
       {"lib/"},
       {{"mix.exs", R"(defmodule M.MixProject do
  use Mix.Project
  def project, do: [app: :m, deps: deps(Mix.env())]
  defp deps(:prod), do: []
  defp deps(_), do: [{:credo, "~> 1.7", only: :dev}]
end
)"}},
       "Elixir (Mix) | mix deps.get && mix compile | mix | mix clean"},
      {"an Elixir library that depends on nothing",
       {"lib/"},
       {{"mix.exs", R"(defmodule Tiny.MixProject do
  use Mix.Project

  @moduledoc """
  Once had: defp deps do [{:jason, "~> 1.0"}] end, and "deps: [x]" #{"deps: [y]"}
  """
  @hash ?#
  @pattern ~r/deps: \[z\]/
  @words ~W(defp deps do [a] end)

  def project do
    [app: :tiny, version: "0.1.0", deps: deps()]  # deps: [{:x, "1"}]
  end

  # defp deps, do: [{:old, "1.0"}]
  defp deps do
    # {:decimal, "~> 2.0"}
    []
  end
end
)"}},
       "Elixir (Mix) | mix compile | mix | mix clean",
       {"test: mix test", "decidedBy: mix.exs"}},
      {"a mix.exs with its dependencies in the project keyword list",
       {},
       {{"mix.exs", R"(defmodule A.MixProject do
  def project, do: [app: :a, deps: [{:b, "1.0"}]]
end
)"}},
       "Elixir (Mix) | mix deps.get && mix compile | mix | mix clean"},
      {"a database in Zig",
       {"build.zig", "src/", "docs/", "zig/", ".github/", "README.md"},
       {},
       "Zig | zig build | zig | ",
       {"test: zig build test"}},
      {"a terminal emulator in Zig whose Makefile only says to run zig build",
       {"build.zig", "build.zig.zon", "src/", "macos/", "pkg/", "flake.nix"},
       {{"Makefile",
         "init:\n\t@echo You probably want to run \"zig build\" instead.\n"
         "clean:\n\trm -rf zig-out zig-cache\n"}},
       "C (Make) | make | make | make clean"},
      {"a web framework in Swift",
       {"Package.swift", "Sources/", "Tests/", ".github/", "README.md"},
       {},
       "Swift | swift build -c release | swift | swift package clean",
       {"test: swift test"}},
      {"a Swift argument parser that CMake builds too",
       {"Package.swift", "CMakeLists.txt", "cmake/", "Sources/", "Tests/", "Examples/"},
       {},
       "C++ (CMake) | cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build "
       "--config Release | cmake | "},
      {"the standard library of Deno, whose tasks build nothing",
       {"deno.lock", "assert/", "fs/", "_tools/", ".github/", "README.md"},
       {{"deno.json",
         R"({"imports": {"@deno/doc": "jsr:@deno/doc@0.134"},
             "tasks": {"test": "deno test --doc --allow-all", "build:crypto": "deno task x"}})"}},
       "TypeScript (Deno) | deno install | deno |  | deno.json has no build task",
       {"test: deno task test"}},
      {"the website of a Deno web framework",
       {".git/", "src/", "www/static/"},
       {{"deno.json", R"({"workspace": ["./www"], "tasks": {"test": "deno test -A"}})"},
        {"www/deno.json",
         R"({"tasks": {"start": "deno run -A --watch dev.ts", "build": "deno run -A dev.ts build"}})"}},
       "TypeScript (Deno) | deno task build | deno | ",
       {},
       "www"},
      {"a Deno project whose deno.jsonc has comments and a task with dependencies",
       {"main.ts"},
       {{"deno.jsonc",
         "// tasks\n{\"tasks\": {\"build\": {\"command\": \"deno run gen.ts\", "
         "\"dependencies\": [\"check\"]}}}\n"}},
       "TypeScript (Deno) | deno task build | deno | ",
       {"test: deno test"}},
      {"a build system built with itself",
       {"MODULE.bazel", "BUILD", ".bazelrc", ".bazelversion", "src/", "third_party/", "site/"},
       {},
       "Bazel | bazel build //... | bazel | bazel clean",
       {"test: bazel test //..."}},
      {"the same with bazelisk alone installed",
       {"MODULE.bazel", "BUILD", "/usr/bin/bazelisk!"},
       {},
       "Bazel | bazelisk build //... | bazelisk | bazelisk clean",
       {"test: bazelisk test //..."}},
      {"the same with bazel and bazelisk installed",
       {"MODULE.bazel", "BUILD", "/usr/bin/bazelisk!", "/usr/bin/bazel!"},
       {},
       "Bazel | bazel build //... | bazel | bazel clean"},
      {"a C++ library with CMake and Bazel",
       {"CMakeLists.txt", "MODULE.bazel", "WORKSPACE", "BUILD.bazel", "absl/", "CMake/", "ci/"},
       {},
       "C++ (CMake) | cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build "
       "--config Release | cmake | "},
      {"a REST server in Haskell with Stack and Cabal files",
       {"stack.yaml", "cabal.project", "postgrest.cabal", "src/", "main/", "test/", "nix/"},
       {},
       "Haskell (Stack) | stack build | stack | stack clean",
       {"test: stack test"}},
      {"a JSON library in Haskell built with Cabal",
       {"cabal.project", "aeson.cabal", "src/", "tests/", "attoparsec-aeson/"},
       {},
       "Haskell (Cabal) | cabal build all | cabal | cabal clean",
       {"test: cabal test all"}},
      {"a Haskell package with its .cabal file alone",
       {"text-short.cabal", "src/", "ChangeLog.md", "LICENSE"},
       {},
       "Haskell (Cabal) | cabal build all | cabal | cabal clean"},
      {"a document converter in Haskell driven by its Makefile",
       {"stack.yaml", "cabal.project", "pandoc.cabal", "src/", "test/", "MANUAL.txt"},
       {{"Makefile", "quick:\n\tstack install --fast --test\nclean:\n\tstack clean\n"}},
       "C (Make) | make | make | make clean"},
      {"a PHP web framework",
       {"src/", "tests/", "bin/", "phpunit.xml.dist", "CHANGELOG.md"},
       {{"composer.json",
         R"({"require": {"php": "^8.2"}, "require-dev": {"phpunit/phpunit": "^11"}})"}},
       "PHP (Composer) | composer install | composer |  | composer.json has no build step",
       {"test: composer install && vendor/bin/phpunit"}},
      {"a PHP package manager whose scripts run its tests",
       {"composer.lock", "bin/", "src/", "tests/", "phpunit.xml.dist"},
       {{"composer.json",
         R"({"scripts": {"compile": "@php bin/compile", "test": "@php simple-phpunit"}})"}},
       "PHP (Composer) | composer install | composer |  | composer.json has no build step",
       {"test: composer install && composer test"}},
      {"a PHP web application with its front end built by Vite",
       {"composer.json", "artisan", "app/", "resources/", "vite.config.js"},
       {{"package.json",
         R"({"private": true, "type": "module", "scripts": {"build": "vite build", "dev": "vite"},
             "devDependencies": {"vite": "^6"}})"}},
       "JavaScript (npm) | npm install && npm run build | npm | "},
      {"a Ruby web framework whose root is also a yarn workspace",
       {"Gemfile", "Gemfile.lock", "Rakefile", "rails.gemspec", "yarn.lock", "actionpack/"},
       {{"package.json", R"({"private": true, "workspaces": ["actioncable"],
                            "devDependencies": {"eslint": "^8"}})"}},
       "JavaScript (yarn) | yarn install --frozen-lockfile && yarn run build | yarn | "},
      {"a Ruby web server interface tested with minitest",
       {"Gemfile", "Rakefile", "rack.gemspec", "lib/", "test/", "CHANGELOG.md"},
       {},
       "Ruby (Bundler) | bundle install | bundle |  | Gemfile has no build step",
       {"test: bundle install && bundle exec rake test"}},
      {"a Ruby linter tested with RSpec",
       {"Gemfile", "Rakefile", "rubocop.gemspec", ".rspec", "lib/", "spec/", "config/"},
       {},
       "Ruby (Bundler) | bundle install | bundle |  | Gemfile has no build step",
       {"test: bundle install && bundle exec rspec"}},
      {"a library of functional abstractions in Scala 3",
       {"build.sbt", "project/", "core/", "kernel/", "laws/", ".scalafmt.conf", "README.md"},
       {},
       "Scala (sbt) | sbt compile | sbt | sbt clean",
       {"test: sbt test"}},
      {"a gallery app in Flutter",
       {"android/", "ios/", "lib/", "linux/CMakeLists.txt", "web/", "test/", "l10n.yaml"},
       {{"pubspec.yaml",
         "name: gallery\r\nenvironment:\r\n  sdk: ^3.2.0\r\n\r\ndependencies:\r\n"
         "  collection: ^1.17.0\r\n  flutter:   # the SDK\r\n    sdk: flutter\r\n"
         "  flutter_localizations:\r\n    sdk: flutter\r\n"}},
       "Dart (Flutter) | flutter pub get | flutter |  | pubspec.yaml has no build step",
       {"test: flutter test"}},
      {"a Flutter plugin with its dependency on one line",
       {"lib/", "example/"},
       {{"pubspec.yaml", "name: plugin\ndependencies:\n  flutter: { sdk: \"flutter\" }\n"}},
       "Dart (Flutter) | flutter pub get | flutter |  | pubspec.yaml has no build step"},
      {"a Dart package for paths whose tests and assets name Flutter",
       {"lib/", "test/", "analysis_options.yaml", "CHANGELOG.md"},
       {{"pubspec.yaml",
         "name: path\ndependencies:\n  meta: ^1.9.0\n# flutter:\n#   sdk: flutter\n"
         "dev_dependencies:\n  flutter_test:\n    sdk: flutter\n  test: ^1.16.0\n"
         "flutter:\n  sdk: flutter\n"}},
       "Dart | dart pub get | dart |  | pubspec.yaml has no build step",
       {"test: dart test"}},
      // Evidence that cannot be taken is no evidence: today's plan, never a hang or a crash.
      {"a package.json that is a FIFO",
       {"package.json|"},
       {},
       "JavaScript (npm) | npm run build | npm | "},
      {"a package.json that is a folder",
       {"package.json/"},
       {},
       "JavaScript (npm) | npm run build | npm | "},
      {"a package.json that is no object",
       {},
       {{"package.json", "[1, 2]"}},
       "JavaScript (npm) | npm run build | npm | "},
      {"a package.json too large to read",
       {},
       {{"package.json", "{" + std::string(5 << 20, ' ') + "}"}},
       "JavaScript (npm) | npm run build | npm | "},
      {"a package.json nested deeper than anyone writes",
       {},
       {{"package.json", std::string(100000, '[') + std::string(100000, ']')}},
       "JavaScript (npm) | npm run build | npm | "},
      {"a packageManager field that is not a string",
       {"yarn.lock"},
       {{"package.json", R"({"packageManager": 7, "scripts": {"build": "x"}})"}},
       "JavaScript (yarn) | yarn run build | yarn | "},
      {"a packageManager field naming an unknown manager",
       {"pnpm-lock.yaml"},
       {{"package.json", R"({"packageManager": "deno@2.0.0", "scripts": {"build": "x"}})"}},
       "JavaScript (pnpm) | pnpm run build | pnpm | "},
      {"a packageManager field without a lockfile",
       {},
       {{"package.json",
         R"({"packageManager": "yarn", "dependencies": {"a": "1"}, "scripts": {"build": "x"}})"}},
       "JavaScript (yarn) | yarn install && yarn run build | yarn | ",
       {"pinned: "}},
      {"lockfiles that are a folder and a FIFO",
       {"yarn.lock/", "pnpm-lock.yaml|"},
       {{"package.json", R"({"scripts": {"build": "x"}})"}},
       "JavaScript (npm) | npm run build | npm | "},
      {"a uv.lock that is a folder",
       {"pyproject.toml", "uv.lock/"},
       {},
       "Python (pip) | pip install -e . | pip | "},
  };
  for (const Case& c : cases) {
    const TempDir dir;
    const TempDir system;
    for (const std::string& entry : c.entries) {
      if (entry.front() == '/') {
        makeEntry(system, entry.substr(1));
      } else {
        makeEntry(dir, entry);
      }
    }
    for (const auto& [name, content] : c.files) dir.write(name, content);
    std::map<std::string, std::string> variables{{"PATH", (system / "usr/bin").string()}};
    if (c.virtualEnv) variables["VIRTUAL_ENV"] = *c.virtualEnv;
    const FixedEnvironment environment(variables);
    const std::string folder = (dir / c.project).string();
    const Detection detection = ProjectDetector().detectMarker(folder);
    ASSERT_NE(detection.kind, nullptr) << c.like;
    PlanRequest request;
    request.folder = folder;
    request.kind = detection.kind;
    request.marker = detection.marker;
    request.environment = &environment;
    const BuildConfig config = planBuild(request);
    std::string tools;
    for (const std::string& tool : config.tools) tools += (tools.empty() ? "" : ", ") + tool;
    EXPECT_EQ(config.displayName + " | " + config.buildCommand + " | " + tools + " | " +
                  config.clean.command + (config.note.empty() ? "" : " | " + config.note),
              c.plan)
        << c.like;
    for (const std::string& line : c.also) {
      const size_t colon = line.find(": ");
      std::string expected = line.substr(colon + 2);
      for (size_t at; (at = expected.find("{system}")) != std::string::npos;) {
        expected.replace(at, 8, system.path().string());
      }
      EXPECT_EQ(described(config, line.substr(0, colon)), expected) << c.like;
    }
    std::vector<std::string> evidence = config.evidence;
    std::sort(evidence.begin(), evidence.end());
    EXPECT_TRUE(std::adjacent_find(evidence.begin(), evidence.end()) == evidence.end())
        << c.like << ": each file is named once in " << joined(config.evidence);
  }
}

}  // namespace
}  // namespace quarn
