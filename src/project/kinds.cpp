#include "project/kinds.hpp"

#include <algorithm>

#include "platform/environment.hpp"
#include "project/kind_rules.hpp"

namespace quarn {

namespace {

// clang-format off
// The tools, with their version commands and install commands for Windows, macOS and Linux.
const Tool kCMake{"cmake", "", "", "choco install cmake", "brew install cmake", "sudo apt install cmake"};
const Tool kDotnet{"dotnet", "", "", "choco install dotnet-sdk", "brew install dotnet",
                   "sudo apt install dotnet-sdk-8.0"};
const Tool kCargo{"cargo", "", "", "choco install rustup.install", "brew install rust",
                  "curl --proto '=https' --tlsv1.2 -sSf https://sh.rustup.rs | sh"};
const Tool kMake{"make", "", "", "choco install make", "brew install make",
                 "sudo apt install build-essential"};
const Tool kNpm{"npm", "", "", "choco install nodejs", "brew install node", "sudo apt install nodejs npm"};
const Tool kPip{"pip", "", "", "choco install python", "brew install python", "sudo apt install python3-pip"};
// No program: venv's means of putting pip into an environment, which Debian and Ubuntu ship apart
// (ensurepip). Plans name it only where the interpreter lacks it, so that it is reported missing
// with the line that installs it.
const Tool kPythonVenv{"python3-venv", "", "", "choco install python", "brew install python",
                       "sudo apt install python3-venv"};
const Tool kMvn{"mvn", "", "", "choco install maven", "brew install maven", "sudo apt install maven"};
// Gradle prints an empty line and a rule before its version.
const Tool kGradle{"gradle", "", "Gradle ", "choco install gradle", "brew install gradle",
                   "sudo apt install gradle"};
// The wrappers of Maven and Gradle fetch the tool themselves and need only a Java runtime.
const Tool kJava{"java", "java -version", "", "choco install openjdk", "brew install openjdk",
                 "sudo apt install default-jdk"};
const Tool kGo{"go", "go version", "", "choco install golang", "brew install go", "sudo apt install golang-go"};
const Tool kMeson{"meson", "", "", "pip install meson ninja", "brew install meson",
                  "sudo apt install meson ninja-build"};
const Tool kNinja{"ninja", "", "", "choco install ninja", "brew install ninja", "sudo apt install ninja-build"};
const Tool kAutoreconf{"autoreconf", "", "", "pacman -S autoconf automake libtool",
                       "brew install autoconf automake libtool",
                       "sudo apt install autoconf automake libtool"};
const Tool kPnpm{"pnpm", "", "", "npm install -g pnpm", "brew install pnpm", "npm install -g pnpm"};
const Tool kYarn{"yarn", "", "", "npm install -g yarn", "brew install yarn", "npm install -g yarn"};
const Tool kBun{"bun", "", "", "powershell -c \"irm bun.sh/install.ps1 | iex\"",
                "brew install oven-sh/bun/bun", "curl -fsSL https://bun.sh/install | bash"};
const Tool kUv{"uv", "", "",
               "powershell -ExecutionPolicy ByPass -c \"irm https://astral.sh/uv/install.ps1 | iex\"",
               "brew install uv", "curl -LsSf https://astral.sh/uv/install.sh | sh"};
const Tool kPoetry{"poetry", "", "", "pipx install poetry", "brew install poetry", "pipx install poetry"};
const Tool kDune{"dune", "", "", "opam install dune", "opam install dune", "opam install dune"};
// Mix prints the Erlang banner first.
// Spreads compiles over other machines; it has no Windows port of its own.
const Tool kDistcc{"distcc", "", "", "wsl sudo apt install distcc", "brew install distcc",
                   "sudo apt install distcc"};
const Tool kMix{"mix", "", "Mix ", "choco install elixir", "brew install elixir", "sudo apt install elixir"};
// Not in Debian.
const Tool kZig{"zig", "zig version", "", "choco install zig", "brew install zig",
                "sudo snap install zig --classic --beta"};
// The toolchain of swift.org; on macOS Xcode's.
const Tool kSwift{"swift", "", "", "winget install --id Swift.Toolchain -e", "xcode-select --install",
                  "curl -O https://download.swift.org/swiftly/linux/swiftly-$(uname -m).tar.gz && "
                  "tar zxf swiftly-$(uname -m).tar.gz && ./swiftly init"};
const Tool kDeno{"deno", "", "", "powershell -c \"irm https://deno.land/install.ps1 | iex\"",
                 "brew install deno", "curl -fsSL https://deno.land/install.sh | sh"};
// Bazelisk fetches the Bazel a project asks for, and is installed as bazel too.
const Tool kBazel{"bazel", "", "", "choco install bazelisk", "brew install bazelisk",
                  "npm install -g @bazel/bazelisk"};
// Says its own version once it has the project's Bazel, which it may download first.
const Tool kBazelisk{"bazelisk", "bazelisk version", "Bazelisk version", "choco install bazelisk",
                     "brew install bazelisk", "npm install -g @bazel/bazelisk"};
const Tool kStack{"stack", "", "", "choco install haskell-stack", "brew install haskell-stack",
                  "sudo apt install haskell-stack"};
// Cabal builds with the GHC on the search path.
const Tool kCabal{"cabal", "", "", "choco install ghc cabal", "brew install ghc cabal-install",
                  "sudo apt install ghc cabal-install"};
// PHP's notices and Xdebug's warning may come first.
const Tool kComposer{"composer", "", "Composer version", "choco install composer", "brew install composer",
                     "sudo apt install composer"};
// Bundler comes with Ruby on Windows and macOS.
const Tool kBundle{"bundle", "", "", "choco install ruby", "brew install ruby",
                   "sudo apt install ruby-bundler"};
// The launcher script's own version: sbt --version starts sbt, which may download itself first.
// Not in Debian; Coursier sets up sbt and a JDK.
const Tool kSbt{"sbt", "sbt --script-version", "", "choco install sbt", "brew install sbt",
                "curl -fL https://github.com/coursier/coursier/releases/latest/download/"
                "cs-x86_64-pc-linux.gz | gzip -d > cs && chmod +x cs && ./cs setup"};
// Not in Debian: the Dart team's own apt repository.
const Tool kDart{"dart", "", "", "choco install dart-sdk", "brew install dart-lang/dart/dart",
                 "wget -qO- https://dl-ssl.google.com/linux/linux_signing_key.pub | sudo gpg "
                 "--dearmor -o /usr/share/keyrings/dart.gpg && echo 'deb "
                 "[signed-by=/usr/share/keyrings/dart.gpg arch=amd64] "
                 "https://storage.googleapis.com/download.dartlang.org/linux/debian stable main' | "
                 "sudo tee /etc/apt/sources.list.d/dart_stable.list && sudo apt update && "
                 "sudo apt install dart"};
// Flutter warns first when run as root.
const Tool kFlutter{"flutter", "", "Flutter ", "choco install flutter", "brew install --cask flutter",
                    "sudo snap install flutter --classic"};
// clang-format on

bool windows() { return platform::kCommandDialect == platform::CommandDialect::WindowsCmd; }

// The interpreter the tests of a Python project run on, and the one an externally managed
// Python's projects make their environment with: Debian and macOS have no `python`, only
// `python3`; Windows' installer has `python` alone.
const Tool& python() {
  static const Tool tool{
      windows() ? "python" : "python3", "", "", "choco install python", "brew install python",
      "sudo apt install python3"};
  return tool;
}

std::vector<Kind> makeKinds() {
  using M = Marker;
  // The standard library's runner; the rule of the Python kinds puts pytest in its place where
  // the project configures it.
  const std::string_view unittest = windows() ? "python -m unittest" : "python3 -m unittest";
  std::vector<Kind> rows;
  rows.push_back(Kind("dotnet", "C# (.NET)", "C#")
                     .is(ProjectType::DotNet)
                     .markedBy({M::containing(".csproj"),
                                M::containing(".sln", rules::unlessOnlyNativeSolutions)})
                     .needs({&kDotnet})
                     .builds({"", "dotnet build -c Release"})
                     .buildJobs(Jobs::flag("-m:"))
                     .cleans({"", "dotnet clean -c Release"})
                     .tests({"", "dotnet test -c Release"}, Jobs::flag("-m:")));
  rows.push_back(
      Kind("cmake", "C++ (CMake)", "C++")
          .is(ProjectType::CMake)
          .markedBy({M::named("CMakeLists.txt")})
          .needs({&kCMake})
          .builds({"cmake -S . -B build -DCMAKE_BUILD_TYPE=Release",
                   "cmake --build build --config Release"})
          .buildJobs(Jobs::variable("CMAKE_BUILD_PARALLEL_LEVEL", true))
          .writes({"build"})
          .testsAfterBuilding({"", "ctest --test-dir build --output-on-failure"}, Jobs::flag("-j "))
          .launchedThrough(CompilerLauncher::Launchers));
  rows.push_back(Kind("cargo", "Rust (Cargo)", "Rust")
                     .is(ProjectType::Cargo)
                     .markedBy({M::named("Cargo.toml")})
                     .needs({&kCargo})
                     .builds({"", "cargo build --release"})
                     .buildJobs(Jobs::variable("CARGO_BUILD_JOBS"))
                     .cleans({"", "cargo clean"})
                     .tests({"", "cargo test"}, Jobs::variable("CARGO_BUILD_JOBS"))
                     .launchedThrough(CompilerLauncher::RustcWrapper));
  rows.push_back(
      Kind("make", "C (Make)", "C")
          .is(ProjectType::Make)
          .markedBy({M::named("Makefile"), M::named("GNUmakefile"), M::named("makefile")})
          .needs({&kMake})
          .builds({"", "make"})
          .buildJobs(Jobs::makeflags())
          .cleans({"", "make clean"})
          .writes({"build"})
          .tests({"", "make test"}, Jobs::makeflags())
          .launchedThrough(CompilerLauncher::CcVariables)
          .refinedBy(rules::planMake));
  rows.push_back(Kind("gradle", "Java (Gradle)", "Java")
                     .markedBy({M::named("build.gradle", rules::mavenBesidePom),
                                M::named("build.gradle.kts", rules::mavenBesidePom),
                                M::named("settings.gradle", rules::mavenBesidePom),
                                M::named("settings.gradle.kts", rules::mavenBesidePom)})
                     .needs({&kGradle})
                     .builds({"", "gradle build"})
                     .buildJobs(Jobs::flag("--max-workers="))
                     .writes({"build"})
                     .tests({"", "gradle test"}, Jobs::flag("--max-workers="))
                     .wrappedBy({"gradlew", "gradlew.bat", &kJava}));
  rows.push_back(Kind("npm", "JavaScript (npm)", "JavaScript")
                     .is(ProjectType::Npm)
                     .markedBy({M::named("package.json")})
                     .needs({&kNpm})
                     .builds({"", "npm run build", "", "--"})
                     .cleans({"", "npm run clean"})
                     .writes({"build"})
                     .tests({"", "npm test", "", "--"})
                     .refinedBy(rules::planJavaScript));
  rows.push_back(Kind("maven", "Java (Maven)", "Java")
                     .is(ProjectType::Maven)
                     .markedBy({M::named("pom.xml")})
                     .needs({&kMvn})
                     .builds({"", "mvn clean package"})
                     .buildJobs(Jobs::flag("-T "))
                     .tests({"", "mvn test"}, Jobs::flag("-T "))
                     .wrappedBy({"mvnw", "mvnw.cmd", &kJava}));
  rows.push_back(Kind("pip", "Python (pip)", "Python")
                     .is(ProjectType::Pip)
                     .markedBy({M::named("pyproject.toml"), M::named("setup.py")})
                     .needs({&kPip})
                     .builds({"", "pip install -e ."})
                     .writes({"build"})
                     .tests({"", unittest})
                     .testsNeed({&python()})
                     .refinedBy(rules::planPython));
  rows.push_back(Kind("go", "Go", "Go")
                     .markedBy({M::named("go.work"), M::named("go.mod")})
                     .needs({&kGo})
                     .builds({"", "go build", "./..."})
                     .buildJobs(Jobs::flag("-p "))
                     .cleans({"", "go clean"})
                     .tests({"", "go test", "./..."}, Jobs::flag("-p ")));
  rows.push_back(
      Kind("meson", "C/C++ (Meson)", "C/C++")
          .markedBy({M::named("meson.build")})
          .needs({&kMeson})
          .builds({"meson setup build --buildtype=release", "meson compile -C build"})
          .buildJobs(Jobs::flag("-j "))
          .writes({"build"})
          .testsAfterBuilding({"", "meson test -C build"}, Jobs::flag("--num-processes "))
          .launchedThrough(CompilerLauncher::MesonSetup)
          .refinedBy(rules::planMeson));
  rows.push_back(
      Kind("autotools", "C (Autotools)", "C")
          .markedBy({M::program("configure"), M::named("configure.ac"), M::named("configure.in")})
          .needs({&kMake})
          .builds({"./configure", "make"})
          .buildJobs(Jobs::makeflags())
          .cleans({"", "make clean"})
          .writes({"build"})
          .testsAfterBuilding({"", "make check"}, Jobs::makeflags())
          .launchedThrough(CompilerLauncher::CcVariables)
          .refinedBy(rules::planAutotools));
  rows.push_back(Kind("dune", "OCaml (Dune)", "OCaml")
                     .markedBy({M::named("dune-project")})
                     .needs({&kDune})
                     .builds({"", "dune build"})
                     .buildJobs(Jobs::flag("-j "))
                     .cleans({"", "dune clean"})
                     .tests({"", "dune test"}, Jobs::flag("-j ")));
  rows.push_back(Kind("mix", "Elixir (Mix)", "Elixir")
                     .markedBy({M::named("mix.exs")})
                     .needs({&kMix})
                     .builds({"", "mix compile"})
                     .cleans({"", "mix clean"})
                     .tests({"", "mix test"})
                     .refinedBy(rules::planMix));
  // zig-cache is where Zig before 0.13 kept its cache.
  rows.push_back(Kind("zig", "Zig", "Zig")
                     .markedBy({M::named("build.zig")})
                     .needs({&kZig})
                     .builds({"", "zig build"})
                     .buildJobs(Jobs::flag("-j"))
                     .writes({"zig-out", ".zig-cache", "zig-cache"})
                     .tests({"", "zig build test"}, Jobs::flag("-j")));
  rows.push_back(Kind("swift", "Swift", "Swift")
                     .markedBy({M::named("Package.swift")})
                     .needs({&kSwift})
                     .builds({"", "swift build -c release"})
                     .buildJobs(Jobs::flag("-j "))
                     .cleans({"", "swift package clean"})
                     .writes({".build"})
                     .tests({"", "swift test"}, Jobs::flag("-j ")));
  rows.push_back(Kind("deno", "TypeScript (Deno)", "TypeScript")
                     .markedBy({M::named("deno.json"), M::named("deno.jsonc")})
                     .needs({&kDeno})
                     .builds({"", "deno task build"})
                     .tests({"", "deno test"})
                     .refinedBy(rules::planDeno));
  // Bazel builds projects of any language, and of several at once.
  rows.push_back(
      Kind("bazel", "Bazel", "various")
          .markedBy({M::named("MODULE.bazel"), M::named("WORKSPACE.bazel"), M::named("WORKSPACE")})
          .needs({&kBazel})
          .builds({"", "bazel build", "//..."})
          .buildJobs(Jobs::flag("--jobs="))
          .cleans({"", "bazel clean"})
          .tests({"", "bazel test", "//..."}, Jobs::flag("--jobs="))
          .refinedBy(rules::planBazel));
  // Stack where the project has its stack.yaml; Cabal's files alone make it a Cabal project.
  rows.push_back(
      Kind("haskell", "Haskell (Stack)", "Haskell")
          .markedBy({M::named("stack.yaml"), M::named("cabal.project", rules::builtWithCabal),
                     M::endingIn(".cabal", rules::builtWithCabal)})
          .needs({&kStack})
          .builds({"", "stack build"})
          .buildJobs(Jobs::flag("-j "))
          .cleans({"", "stack clean"})
          .writes({".stack-work"})
          .tests({"", "stack test"}, Jobs::flag("-j ")));
  rows.push_back(Kind("php", "PHP (Composer)", "PHP")
                     .markedBy({M::named("composer.json")})
                     .needs({&kComposer})
                     .builds({"", "composer install"})
                     .says("composer.json has no build step")
                     .testsAfterBuilding({"", "composer test"})
                     .refinedBy(rules::planPhp));
  // No jobs: bundle install --jobs keeps the number in the project's .bundle/config.
  rows.push_back(Kind("ruby", "Ruby (Bundler)", "Ruby")
                     .markedBy({M::named("Gemfile")})
                     .needs({&kBundle})
                     .builds({"", "bundle install"})
                     .says("Gemfile has no build step")
                     .testsAfterBuilding({"", "bundle exec rake test"})
                     .refinedBy(rules::planRuby));
  rows.push_back(Kind("scala", "Scala (sbt)", "Scala")
                     .markedBy({M::named("build.sbt")})
                     .needs({&kSbt})
                     .builds({"", "sbt compile"})
                     .cleans({"", "sbt clean"})
                     .writes({"target"})
                     .tests({"", "sbt test"}));
  rows.push_back(Kind("dart", "Dart", "Dart")
                     .markedBy({M::named("pubspec.yaml")})
                     .needs({&kDart})
                     .builds({"", "dart pub get"})
                     .says("pubspec.yaml has no build step")
                     .tests({"", "dart test"})
                     .refinedBy(rules::planDart));
  // Reached from the evidence of the kinds above.
  rows.push_back(Kind("pnpm", "JavaScript (pnpm)", "JavaScript")
                     .needs({&kPnpm})
                     .builds({"", "pnpm run build"})
                     .cleans({"", "pnpm run clean"})
                     .writes({"build"})
                     .tests({"", "pnpm test"})
                     .refinedBy(rules::planJavaScript));
  rows.push_back(Kind("yarn", "JavaScript (yarn)", "JavaScript")
                     .needs({&kYarn})
                     .builds({"", "yarn run build"})
                     .cleans({"", "yarn run clean"})
                     .writes({"build"})
                     .tests({"", "yarn test"})
                     .refinedBy(rules::planJavaScript));
  rows.push_back(Kind("bun", "JavaScript (bun)", "JavaScript")
                     .needs({&kBun})
                     .builds({"", "bun run build"})
                     .cleans({"", "bun run clean"})
                     .writes({"build"})
                     .tests({"", "bun run test"})
                     .refinedBy(rules::planJavaScript));
  rows.push_back(Kind("uv", "Python (uv)", "Python")
                     .needs({&kUv})
                     .builds({"", "uv sync"})
                     .writes({"build"})
                     .tests({"", "uv run python -m unittest"})
                     .refinedBy(rules::planPython));
  rows.push_back(Kind("poetry", "Python (Poetry)", "Python")
                     .needs({&kPoetry})
                     .builds({"", "poetry install"})
                     .writes({"build"})
                     .tests({"", "poetry run python -m unittest"})
                     .refinedBy(rules::planPython));
  // -j takes its number attached: -j4.
  rows.push_back(Kind("cabal", "Haskell (Cabal)", "Haskell")
                     .needs({&kCabal})
                     .builds({"", "cabal build", "all"})
                     .buildJobs(Jobs::flag("-j"))
                     .cleans({"", "cabal clean"})
                     .writes({"dist-newstyle"})
                     .tests({"", "cabal test", "all"}, Jobs::flag("-j")));
  rows.push_back(Kind("flutter", "Dart (Flutter)", "Dart")
                     .needs({&kFlutter})
                     .builds({"", "flutter pub get"})
                     .says("pubspec.yaml has no build step")
                     .tests({"", "flutter test"}));
  // The project's quarn.toml says how it is built.
  rows.push_back(Kind("custom", "Custom (quarn.toml)", "unknown").writes({"build"}));
  rows.push_back(Kind("unknown", "Unknown", "unknown").is(ProjectType::Unknown));
  return rows;
}

// Tools that rules add to a plan, or that quarn knows how to install besides.
// The interpreter is the pip row's, for its tests.
const Tool* const kExtraTools[] = {&kAutoreconf, &kNinja, &kPythonVenv, &kDistcc, &kBazelisk};

}  // namespace

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> rows = makeKinds();
  return rows;
}

const std::vector<const Tool*>& tools() {
  static const std::vector<const Tool*> all = [] {
    std::vector<const Tool*> list;
    const auto add = [&list](const Tool* tool) {
      if (tool != nullptr && std::find(list.begin(), list.end(), tool) == list.end()) {
        list.push_back(tool);
      }
    };
    for (const Kind& kind : kinds()) {
      for (const Tool* tool : kind.tools) add(tool);
      for (const Tool* tool : kind.testTools) add(tool);
      add(kind.wrapper.needs);
    }
    for (const Tool* tool : kExtraTools) add(tool);
    return list;
  }();
  return all;
}

const Kind& unknownKind() { return kinds().back(); }
const Kind& customKind() { return kinds()[kinds().size() - 2]; }

const Kind& kindOf(ProjectType type) {
  const std::vector<Kind>& rows = kinds();
  if (type == ProjectType::Other) return unknownKind();
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [type](const Kind& kind) { return kind.type == type; });
  return row != rows.end() ? *row : unknownKind();
}

const Kind* kindNamed(std::string_view name) {
  const std::vector<Kind>& rows = kinds();
  const auto row = std::find_if(rows.begin(), rows.end(),
                                [name](const Kind& kind) { return kind.name == name; });
  if (row == rows.end() || &*row == &unknownKind()) return nullptr;
  return &*row;
}

std::vector<std::string> kindNames() {
  std::vector<std::string> names;
  for (const Kind& kind : kinds()) {
    if (&kind != &unknownKind()) names.emplace_back(kind.name);
  }
  return names;
}

Command CommandRow::plan() const {
  Command command;
  command.setup = std::string(setup);
  command.step = std::string(step);
  command.argumentPrefix = std::string(argumentPrefix);
  if (!tail.empty()) {
    command.argumentsAt = command.step.size();
    command.step += " ";
    command.step += tail;
  }
  return command;
}

std::string Command::line() const {
  if (setup.empty() || step.empty()) return setup + step;
  return setup + " && " + step;
}

std::string Command::with(const std::string& flags, const std::string& arguments) const {
  if ((flags.empty() && arguments.empty()) || step.empty()) return line();
  std::string inserted;
  if (!flags.empty()) inserted += " " + flags;
  if (!arguments.empty() && !argumentPrefix.empty()) inserted += " " + argumentPrefix;
  if (!arguments.empty()) inserted += " " + arguments;
  std::string text = step;
  text.insert(argumentsAt == std::string::npos ? text.size() : argumentsAt, inserted);
  return setup.empty() ? text : setup + " && " + text;
}

}  // namespace quarn
