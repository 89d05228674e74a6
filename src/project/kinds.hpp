#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "project/project_type.hpp"

namespace quarn {

class Folder;
struct Kind;

// A build tool: how it says its version and how it is installed on each system.
struct Tool {
  std::string_view name;
  std::string_view versionCommand;  // empty: "<name> --version"
  std::string_view versionLine;     // the version is the first line beginning so; empty: the first
  std::string_view windows;         // install commands
  std::string_view macos;
  std::string_view linux;
};

// Decides, for a marker that matched `entry` in `folder`, the kind the folder is: the marker's own,
// another, or null for none, so that detection goes on to the markers after it.
using MarkerRule = const Kind* (*)(const Kind& own, const Folder& folder, std::string_view entry);

// A file whose presence says what kind of project a folder is.
struct Marker {
  enum class Match {
    Name,        // an entry of exactly this name
    Containing,  // also any entry whose name contains it in all lower or all upper case
    Suffix,      // any entry whose name ends in it, the name itself too (".cabal")
    Program,     // only a program that can run
  };
  std::string_view name;
  Match match = Match::Name;
  MarkerRule rule = nullptr;  // null: the marker decides its own kind

  static Marker named(std::string_view name, MarkerRule rule = nullptr) {
    return {name, Match::Name, rule};
  }
  static Marker containing(std::string_view name, MarkerRule rule = nullptr) {
    return {name, Match::Containing, rule};
  }
  static Marker endingIn(std::string_view name, MarkerRule rule = nullptr) {
    return {name, Match::Suffix, rule};
  }
  static Marker program(std::string_view name) { return {name, Match::Program, nullptr}; }
};

// A command of the table: a set-up run first (joined with " && "), the step, and where flags and
// passed arguments go: at the end of `step`, before `tail` when there is one, after
// `argumentPrefix` when there is one ("npm run build -- ARGS").
struct CommandRow {
  std::string_view setup;
  std::string_view step;
  std::string_view tail;
  std::string_view argumentPrefix;

  CommandRow() = default;
  CommandRow(std::string_view setup, std::string_view step, std::string_view tail = {},
             std::string_view argumentPrefix = {})
      : setup(setup), step(step), tail(tail), argumentPrefix(argumentPrefix) {}

  Command plan() const;
};

// How a kind takes a number of parallel jobs.
struct Jobs {
  enum class Via {
    None,
    Flag,       // in the step: `text` followed by the number ("-j ", "--max-workers=")
    Variable,   // the environment variable `text`
    Makeflags,  // "-jN" added to what MAKEFLAGS already holds
  };
  Via via = Via::None;
  std::string_view text;
  bool processorsByDefault = false;  // set to the processors quarn may use when not asked

  static Jobs flag(std::string_view text) { return {Via::Flag, text, false}; }
  static Jobs variable(std::string_view name, bool byDefault = false) {
    return {Via::Variable, name, byDefault};
  }
  static Jobs makeflags() { return {Via::Makeflags, "MAKEFLAGS", false}; }
};

// How a compiler launcher (a compiler cache, distcc) enters a kind's build.
enum class CompilerLauncher {
  None,
  Launchers,     // CMake's CMAKE_C_COMPILER_LAUNCHER and CMAKE_CXX_COMPILER_LAUNCHER
  CcVariables,   // CC and CXX in the environment ("distcc cc"), which make and configure read
  MesonSetup,    // CC and CXX when the build folder is set up; it keeps them
  RustcWrapper,  // Cargo's RUSTC_WRAPPER, sccache only
};

// The project's own script that runs the tool, fetching it first.
struct Wrapper {
  std::string_view posix;    // run as "./<posix>"
  std::string_view windows;  // run as "<windows>"
  const Tool* needs = nullptr;
};

// Refines a plan with the evidence in the folder beyond the markers: lockfiles, a manifest's
// fields, a virtual environment. `chosen`: the kind was named by the user, so the evidence may
// refine the plan but not change the kind.
using PlanRule = void (*)(BuildConfig& config, const Folder& folder, bool chosen);

// One kind of project, the whole of what quarn knows of it.
struct Kind {
  std::string_view name;  // what --kind and quarn.toml call it
  std::string_view displayName;
  std::string_view language;
  ProjectType type = ProjectType::Other;
  std::vector<Marker> markers;     // tried in this order at the kind's place in the table
  std::vector<const Tool*> tools;  // what the build needs, the main tool first
  CommandRow build;
  std::string_view note;                  // said after a build that only installs dependencies
  Jobs jobs;                              // for the build
  CommandRow clean;                       // the kind's own clean
  std::vector<std::string_view> outputs;  // folders its tool writes that the clean step removes
  CommandRow test;
  Jobs testJobs;
  bool testBuildsFirst = false;        // the test step runs after the build plan, which it needs
  std::vector<const Tool*> testTools;  // what the tests need; empty: what the build needs
  Wrapper wrapper;
  CompilerLauncher launcher = CompilerLauncher::None;
  PlanRule rule = nullptr;

  Kind(std::string_view name, std::string_view displayName, std::string_view language)
      : name(name), displayName(displayName), language(language) {}

  // Setters, so that a row of the table names what it sets.
  Kind& is(ProjectType value) {
    type = value;
    return *this;
  }
  Kind& markedBy(std::initializer_list<Marker> list) {
    markers = list;
    return *this;
  }
  Kind& needs(std::initializer_list<const Tool*> list) {
    tools = list;
    return *this;
  }
  Kind& builds(const CommandRow& row) {
    build = row;
    return *this;
  }
  // The build only installs what the project needs; `text` says that there is nothing to build.
  Kind& says(std::string_view text) {
    note = text;
    return *this;
  }
  Kind& buildJobs(const Jobs& value) {
    jobs = value;
    return *this;
  }
  Kind& cleans(const CommandRow& row) {
    clean = row;
    return *this;
  }
  Kind& writes(std::initializer_list<std::string_view> list) {
    outputs = list;
    return *this;
  }
  Kind& tests(const CommandRow& row, const Jobs& value = {}) {
    test = row;
    testJobs = value;
    return *this;
  }
  Kind& testsAfterBuilding(const CommandRow& row, const Jobs& value = {}) {
    testBuildsFirst = true;
    return tests(row, value);
  }
  Kind& testsNeed(std::initializer_list<const Tool*> list) {
    testTools = list;
    return *this;
  }
  Kind& wrappedBy(const Wrapper& value) {
    wrapper = value;
    return *this;
  }
  Kind& launchedThrough(CompilerLauncher value) {
    launcher = value;
    return *this;
  }
  Kind& refinedBy(PlanRule value) {
    rule = value;
    return *this;
  }
};

// Every kind, in order of precedence: the first whose marker a folder holds decides. Kinds
// without markers are reached from another's evidence (a lockfile, a quarn.toml). The last two
// rows are `custom` (a quarn.toml's command) and `unknown`.
const std::vector<Kind>& kinds();

// Every tool any kind needs, each once, in table order.
const std::vector<const Tool*>& tools();

// The row of a kind quarn always knew; the Unknown row for Other and values out of range.
const Kind& kindOf(ProjectType type);

// The row whose name is `name`, or null. "unknown" is no kind one can name.
const Kind* kindNamed(std::string_view name);

const Kind& unknownKind();
const Kind& customKind();

// The names --kind and quarn.toml accept, in table order.
std::vector<std::string> kindNames();

}  // namespace quarn
