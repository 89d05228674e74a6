#pragma once

#include <string_view>

#include "project/kinds.hpp"

// The rules of the kinds that need more evidence than their markers, each named by its rows.
namespace quarn::rules {

// Marker rules.
// A Gradle file beside a pom.xml stays a Maven project, as it always was: that build works.
const Kind* mavenBesidePom(const Kind& own, const Folder& folder, std::string_view entry);
// A solution whose projects are all C or C++ (.vcxproj, .vcproj) is no .NET build: detection
// goes on, to the CMakeLists.txt or makefile that such a repository also holds.
const Kind* unlessOnlyNativeSolutions(const Kind& own, const Folder& folder,
                                      std::string_view entry);
// Cabal's files without a stack.yaml, which is tried before them: a Cabal project.
const Kind* builtWithCabal(const Kind& own, const Folder& folder, std::string_view entry);

// Plan rules.
// The package manager (packageManager, the nearest lockfile), installing missing dependencies
// first, and the scripts package.json has.
void planJavaScript(BuildConfig& config, const Folder& folder, bool chosen);
// uv or Poetry by their lockfiles; the project's own virtual environment, made first where the
// interpreter is externally managed.
void planPython(BuildConfig& config, const Folder& folder, bool chosen);
// Generating configure when there is none that can run.
void planAutotools(BuildConfig& config, const Folder& folder, bool chosen);
// make clean only where a makefile defines the target.
void planMake(BuildConfig& config, const Folder& folder, bool chosen);
// Fetching the dependencies a fresh clone lacks.
void planMix(BuildConfig& config, const Folder& folder, bool chosen);
// A build folder configured already is only compiled.
void planMeson(BuildConfig& config, const Folder& folder, bool chosen);
// Without a build task, the dependencies are installed and that is said; the test task where
// there is one.
void planDeno(BuildConfig& config, const Folder& folder, bool chosen);
// Bazelisk where it is installed and bazel is not.
void planBazel(BuildConfig& config, const Folder& folder, bool chosen);
// PHPUnit where composer.json's scripts have no test.
void planPhp(BuildConfig& config, const Folder& folder, bool chosen);
// RSpec where the project has a spec folder.
void planRuby(BuildConfig& config, const Folder& folder, bool chosen);
// Flutter where pubspec.yaml's dependencies hold the Flutter SDK.
void planDart(BuildConfig& config, const Folder& folder, bool chosen);

}  // namespace quarn::rules
