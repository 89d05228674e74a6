#include "project/kinds.hpp"

#include <algorithm>

namespace quarn {

namespace {

// clang-format off
const std::vector<Kind> kKinds = {
//  type                    name         display name          language      tool
//  markers
//  build command
//  clean command            jobs flag            jobs variable                 wrapper  (cmd)       (needs)
  {ProjectType::DotNet,    "dotnet",    "C# (.NET)",          "C#",         "dotnet",
   ".csproj* .sln*",
   "dotnet build -c Release",
   "dotnet clean -c Release", "-m:{}",            "",                           "",      "",          ""},
  {ProjectType::CMake,     "cmake",     "C++ (CMake)",        "C++",        "cmake",
   "CMakeLists.txt",
   "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build --config Release",
   "",                       "",                  "CMAKE_BUILD_PARALLEL_LEVEL", "",      "",          ""},
  {ProjectType::Cargo,     "cargo",     "Rust (Cargo)",       "Rust",       "cargo",
   "Cargo.toml",
   "cargo build --release",
   "cargo clean",            "",                  "CARGO_BUILD_JOBS",           "",      "",          ""},
  {ProjectType::Make,      "make",      "C (Make)",           "C",          "make",
   "Makefile GNUmakefile makefile",
   "make",
   "make clean",             "",                  "MAKEFLAGS",                  "",      "",          ""},
  {ProjectType::Gradle,    "gradle",    "Java (Gradle)",      "Java",       "gradle",
   "build.gradle build.gradle.kts settings.gradle settings.gradle.kts",
   "gradle build",
   "",                       "--max-workers={}",  "",                           "gradlew", "gradlew.bat", "java"},
  {ProjectType::Npm,       "npm",       "JavaScript (npm)",   "JavaScript", "npm",
   "package.json",
   "npm run build{--}",
   "npm run clean",          "",                  "",                           "",      "",          ""},
  {ProjectType::Maven,     "maven",     "Java (Maven)",       "Java",       "mvn",
   "pom.xml",
   "mvn clean package",
   "",                       "-T {}",             "",                           "mvnw",  "mvnw.cmd",  "java"},
  {ProjectType::Pip,       "pip",       "Python (pip)",       "Python",     "pip",
   "pyproject.toml setup.py",
   "pip install -e .",
   "",                       "",                  "",                           "",      "",          ""},
  {ProjectType::Go,        "go",        "Go",                 "Go",         "go",
   "go.work go.mod",
   "go build{} ./...",
   "go clean",               "-p {}",             "",                           "",      "",          ""},
  {ProjectType::Meson,     "meson",     "C/C++ (Meson)",      "C/C++",      "meson",
   "meson.build",
   "meson setup build --buildtype=release && meson compile -C build",
   "",                       "-j {}",             "",                           "",      "",          ""},
  {ProjectType::Autotools, "autotools", "C (Autotools)",      "C",          "make",
   "configure! configure.ac configure.in",
   "./configure && make",
   "make clean",             "",                  "MAKEFLAGS",                  "",      "",          ""},
  {ProjectType::Dune,      "dune",      "OCaml (Dune)",       "OCaml",      "dune",
   "dune-project",
   "dune build",
   "dune clean",             "-j {}",             "",                           "",      "",          ""},
  {ProjectType::Mix,       "mix",       "Elixir (Mix)",       "Elixir",     "mix",
   "mix.exs",
   "mix compile",
   "mix clean",              "",                  "",                           "",      "",          ""},
  // Reached from the evidence of the kinds above.
  {ProjectType::Pnpm,      "pnpm",      "JavaScript (pnpm)",  "JavaScript", "pnpm",
   "",
   "pnpm run build",
   "pnpm run clean",         "",                  "",                           "",      "",          ""},
  {ProjectType::Yarn,      "yarn",      "JavaScript (yarn)",  "JavaScript", "yarn",
   "",
   "yarn run build",
   "yarn run clean",         "",                  "",                           "",      "",          ""},
  {ProjectType::Bun,       "bun",       "JavaScript (bun)",   "JavaScript", "bun",
   "",
   "bun run build",
   "bun run clean",          "",                  "",                           "",      "",          ""},
  {ProjectType::Uv,        "uv",        "Python (uv)",        "Python",     "uv",
   "",
   "uv sync",
   "",                       "",                  "",                           "",      "",          ""},
  {ProjectType::Poetry,    "poetry",    "Python (Poetry)",    "Python",     "poetry",
   "",
   "poetry install",
   "",                       "",                  "",                           "",      "",          ""},
  {ProjectType::Custom,    "custom",    "Custom (quarn.toml)", "unknown",   "",
   "",
   "",
   "",                       "",                  "",                           "",      "",          ""},
  {ProjectType::Unknown,   "unknown",   "Unknown",            "unknown",    "unknown",
   "",
   "",
   "",                       "",                  "",                           "",      "",          ""},
};
// clang-format on

}  // namespace

const std::vector<Kind>& kinds() { return kKinds; }

const Kind& kindOf(ProjectType type) {
  const auto row = std::find_if(kKinds.begin(), kKinds.end(),
                                [type](const Kind& kind) { return kind.type == type; });
  return row != kKinds.end() ? *row : kKinds.back();
}

const Kind* kindNamed(std::string_view name) {
  const auto row = std::find_if(kKinds.begin(), kKinds.end(),
                                [name](const Kind& kind) { return kind.name == name; });
  if (row == kKinds.end() || row->type == ProjectType::Unknown) return nullptr;
  return &*row;
}

std::vector<std::string> kindNames() {
  std::vector<std::string> names;
  for (const Kind& kind : kKinds) {
    if (kind.type != ProjectType::Unknown) names.emplace_back(kind.name);
  }
  return names;
}

}  // namespace quarn
