#include "commands/build_environment.hpp"

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>

#include <fmt/format.h>

#include "platform/files.hpp"
#include "project/makefile.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace {

bool cacheAllowed(const Environment& environment) {
  const std::optional<std::string> value = environment.variable("QUARN_NO_CACHE");
  return !value || value->empty() || *value == "0";
}

// The first of the compiler caches installed, as a build in `folder` finds it, that works: one
// whose "--version" fails would fail every compile it is put in front of.
std::string installedCache(const Environment& environment, const std::string& folder,
                           std::initializer_list<const char*> caches) {
  for (const char* cache : caches) {
    const std::string path = environment.locate(cache, folder);
    if (!path.empty() && ToolRegistry::answersVersion(path, folder)) return cache;
  }
  return {};
}

void setDefault(platform::EnvironmentOverrides& variables, const Environment& environment,
                const char* name, const std::string& value) {
  if (!environment.isSet(name)) variables.emplace_back(name, value);
}

void setDefault(BuildEnvironment& result, const Environment& environment, const char* name,
                const std::string& value) {
  setDefault(result.variables, environment, name, value);
}

// CMake asks the compiler for its dependencies anyway; ccache then need not run the preprocessor
// a second time for each miss, which is most of what a cold cache costs.
void dependMode(platform::EnvironmentOverrides& variables, const Environment& environment) {
  if (!environment.isSet("CCACHE_DEPEND") && !environment.isSet("CCACHE_NODEPEND")) {
    variables.emplace_back("CCACHE_DEPEND", "1");
  }
}

// Whether the user's environment asks the kind's tool for a parallel level already.
bool jobsChosen(const Jobs& jobs, const Environment& environment) {
  switch (jobs.via) {
    case Jobs::Via::Variable: return environment.isSet(std::string(jobs.text));
    case Jobs::Via::Makeflags: {
      const std::string flags = " " + environment.variable("MAKEFLAGS").value_or("");
      return flags.find(" -j") != std::string::npos || flags.find(" --jobs") != std::string::npos;
    }
    case Jobs::Via::None:
    case Jobs::Via::Flag: break;
  }
  return false;
}

// A compiler command the build has already and quarn does not set: the user's variable, a
// makefile's assignment, or what a configured build folder recorded.
struct GivenCompiler {
  std::string variable;  // CC, CXX, CMAKE_C_COMPILER_LAUNCHER...
  std::string command;
  std::string where;  // a file; empty: the environment
};

std::vector<std::string> words(const std::string& text) {
  std::istringstream stream(text);
  std::vector<std::string> list;
  for (std::string word; stream >> word;) list.push_back(word);
  return list;
}

std::string baseName(const std::string& word) {
  return std::filesystem::path(word).filename().string();
}

enum class Entry {
  Distcc,  // distcc is in it already
  Ccache,  // ccache runs it: CCACHE_PREFIX hands its misses to distcc
  Plain,   // a compiler's name alone, to put distcc in front of
  Closed,  // anything else: a path distcc's hosts refuse, another launcher, a make variable
};

Entry entryOf(const std::string& command) {
  const std::vector<std::string> list = words(command);
  for (const std::string& word : list) {
    if (baseName(word) == "distcc") return Entry::Distcc;
  }
  if (!list.empty() && baseName(list.front()) == "ccache") return Entry::Ccache;
  if (list.size() == 1 &&
      list.front().find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                     "0123456789_.+-") == std::string::npos) {
    return Entry::Plain;
  }
  return Entry::Closed;
}

// "NAME:TYPE=value" lines of a CMakeCache.txt.
std::optional<std::string> cacheEntry(const std::string& text, const std::string& name) {
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const size_t colon = line.find(':');
    const size_t equals = line.find('=');
    if (colon == std::string::npos || equals == std::string::npos || colon > equals) continue;
    if (line.compare(0, colon, name) != 0 || colon != name.size()) continue;
    std::string value = line.substr(equals + 1);
    if (!value.empty() && value.back() == '\r') value.pop_back();
    return value;
  }
  return std::nullopt;
}

// The command of a rule of Meson's build.ninja ("rule c_COMPILER\n command = ccache cc $ARGS").
std::optional<std::string> ninjaRule(const std::string& text, const std::string& rule) {
  const std::string head = "rule " + rule + "\n command = ";
  const size_t at = text.find(head);
  if (at == std::string::npos) return std::nullopt;
  const size_t start = at + head.size();
  const std::string line = text.substr(start, text.find('\n', start) - start);
  const size_t arguments = line.find(" $");
  return line.substr(0, arguments);
}

// The compiler commands quarn leaves as they are, by how the kind takes a launcher.
std::vector<GivenCompiler> givenCompilers(const Project& project, CompilerLauncher launcher,
                                          const Environment& environment) {
  namespace fs = std::filesystem;
  const fs::path folder(project.folder);
  const bool setUp = !project.config.build.setup.empty();
  std::vector<GivenCompiler> given;
  const auto fromEnvironment = [&](std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (environment.isSet(name)) given.push_back({name, *environment.variable(name), ""});
    }
  };
  switch (launcher) {
    case CompilerLauncher::Launchers: {
      // CMake takes the launchers from the environment when it first configures a folder only.
      const platform::FileText cache =
          platform::readRegularFile((folder / "build" / "CMakeCache.txt").string(), 4 << 20);
      if (cache.status != platform::FileText::Status::Read) {
        fromEnvironment({"CMAKE_C_COMPILER_LAUNCHER", "CMAKE_CXX_COMPILER_LAUNCHER"});
        break;
      }
      for (const char* name : {"CMAKE_C_COMPILER_LAUNCHER", "CMAKE_CXX_COMPILER_LAUNCHER"}) {
        const std::optional<std::string> value = cacheEntry(cache.text, name);
        if (value && !value->empty()) given.push_back({name, *value, "build"});
      }
      if (given.empty()) given.push_back({"CMAKE_C_COMPILER_LAUNCHER", "", "build"});
      break;
    }
    case CompilerLauncher::CcVariables:
      // configure reads CC from the environment each time; a makefile's own CC overrides it.
      if (!setUp) {
        for (const char* name : {"GNUmakefile", "makefile", "Makefile"}) {
          const platform::FileText file =
              platform::readRegularFile((folder / name).string(), 4 << 20);
          if (file.status == platform::FileText::Status::Missing) continue;
          for (const char* variable : {"CC", "CXX"}) {
            if (std::optional<std::string> value = assignedValue(file.text, variable)) {
              given.push_back({variable, *value, name});
            } else {
              fromEnvironment({variable});
            }
          }
          return given;
        }
      }
      fromEnvironment({"CC", "CXX"});
      break;
    case CompilerLauncher::MesonSetup:
      if (setUp) {
        fromEnvironment({"CC", "CXX"});
        break;
      }
      {
        // Configured: the compilers are the folder's, kept from its set-up.
        const platform::FileText ninja =
            platform::readFileStart((folder / "build" / "build.ninja").string(), 256 << 10);
        for (const auto& [rule, variable] :
             {std::pair{"c_COMPILER", "CC"}, {"cpp_COMPILER", "CXX"}}) {
          if (std::optional<std::string> command = ninjaRule(ninja.text, rule)) {
            given.push_back({variable, *command, "build"});
          }
        }
        if (given.empty()) given.push_back({"CC", "", "build"});
      }
      break;
    case CompilerLauncher::None:
    case CompilerLauncher::RustcWrapper: break;
  }
  return given;
}

// Why distcc cannot enter through `given`.
std::string closedBy(const GivenCompiler& given) {
  if (given.where == "build") {
    return "build was configured without distcc: compiling on this machine (quarn rebuild "
           "configures it for the hosts)";
  }
  if (!given.where.empty()) {
    return fmt::format("{} sets {} itself ({}), over the environment: compiling on this machine",
                       given.where, given.variable, given.command);
  }
  return fmt::format("{} is '{}': distcc cannot enter it, compiling on this machine",
                     given.variable, given.command);
}

// The jobs asked for through `jobs`, or the processors where the kind takes them by default.
void addJobsOrDefault(BuildEnvironment& result, const Jobs& jobs, const CommandOptions& options,
                      const Environment& environment) {
  if (options.jobs) {
    addJobs(result, jobs, *options.jobs, environment);
  } else if (jobs.processorsByDefault && !environment.isSet(std::string(jobs.text))) {
    addJobs(result, jobs, environment.processors(), environment);
  }
}

void addCompilerCache(BuildEnvironment& result, const Kind& kind, const std::string& folder,
                      const Environment& environment) {
  if (!cacheAllowed(environment)) return;
  switch (kind.launcher) {
    // Make and Meson take a launcher only to spread compiles: a cache alone is theirs to choose
    // (Meson finds one by itself).
    case CompilerLauncher::None:
    case CompilerLauncher::CcVariables:
    case CompilerLauncher::MesonSetup: break;
    case CompilerLauncher::Launchers:
      if (environment.isSet("CMAKE_C_COMPILER_LAUNCHER") ||
          environment.isSet("CMAKE_CXX_COMPILER_LAUNCHER")) {
        break;
      }
      result.compilerCache = installedCache(environment, folder, {"ccache", "sccache"});
      if (result.compilerCache.empty()) break;
      setDefault(result, environment, "CMAKE_C_COMPILER_LAUNCHER", result.compilerCache);
      setDefault(result, environment, "CMAKE_CXX_COMPILER_LAUNCHER", result.compilerCache);
      if (result.compilerCache == "ccache") dependMode(result.variables, environment);
      break;
    case CompilerLauncher::RustcWrapper:
      if (environment.isSet("RUSTC_WRAPPER")) break;
      result.compilerCache = installedCache(environment, folder, {"sccache"});
      if (!result.compilerCache.empty()) {
        result.variables.emplace_back("RUSTC_WRAPPER", result.compilerCache);
      }
      break;
  }
}

bool sameSetting(const Jobs& a, const Jobs& b) { return a.via == b.via && a.text == b.text; }

}  // namespace

void addJobs(BuildEnvironment& result, const Jobs& jobs, unsigned count,
             const Environment& environment) {
  result.jobs = count;
  const std::string number = std::to_string(count);
  switch (jobs.via) {
    case Jobs::Via::None: break;
    case Jobs::Via::Flag: result.flags = std::string(jobs.text) + number; break;
    case Jobs::Via::Variable: result.variables.emplace_back(std::string(jobs.text), number); break;
    case Jobs::Via::Makeflags: {
      // Added to what the user's MAKEFLAGS already say.
      const std::string current = environment.variable("MAKEFLAGS").value_or("");
      result.variables.emplace_back("MAKEFLAGS",
                                    (current.empty() ? "" : current + " ") + "-j" + number);
      break;
    }
  }
}

Distribution planDistribution(const Project& project, const CommandOptions& options,
                              const Environment& environment) {
  Distribution plan;
  plan.cluster = askedCluster(project, options, environment);
  if (!plan.cluster) return plan;
  const Cluster& cluster = *plan.cluster;
  const auto say = [&plan](bool warning, std::string text) {
    plan.remarks.push_back({warning, std::move(text)});
  };
  for (const std::string& why : cluster.unreadable) {
    say(true, fmt::format("{}: {}; left out", cluster.source, why));
  }
  const BuildConfig& config = project.config;
  const bool ownCommand =
      config.kind == &customKind() || (project.settings && project.settings->build);
  const CompilerLauncher launcher = ownCommand ? CompilerLauncher::None : config.kind->launcher;
  if (launcher == CompilerLauncher::None || launcher == CompilerLauncher::RustcWrapper) {
    if (cluster.asked) {
      say(true, fmt::format("distcc cannot help a {} build: building on this machine",
                            config.displayName));
    }
    return plan;
  }
  if (environment.locate("distcc", project.folder).empty()) {
    say(true, fmt::format("distcc is not installed: building on this machine (Install: {})",
                          ToolRegistry().getInstallGuide("distcc")));
    return plan;
  }

  const std::vector<GivenCompiler> given = givenCompilers(project, launcher, environment);
  bool prefix = false;  // a ccache of the user's or the folder's hands its misses to distcc
  for (const GivenCompiler& compiler : given) {
    const Entry kind = entryOf(compiler.command);
    if (kind == Entry::Ccache) prefix = true;
    // Only the user's own CC can take distcc in front of it.
    const bool open =
        kind == Entry::Distcc || kind == Entry::Ccache ||
        (kind == Entry::Plain && compiler.where.empty() && launcher != CompilerLauncher::Launchers);
    if (!open) {
      say(true, closedBy(compiler));
      return plan;
    }
  }

  // The variables quarn sets, each to the launcher and then the compiler named here (CMake's
  // launchers take the launcher alone): those the build has not set already, and the user's plain
  // CC and CXX. A configured Meson folder keeps the compilers of its set-up.
  std::vector<std::pair<std::string, std::string>> named;
  if (launcher == CompilerLauncher::Launchers) {
    if (given.empty()) {
      named = {{"CMAKE_C_COMPILER_LAUNCHER", ""}, {"CMAKE_CXX_COMPILER_LAUNCHER", ""}};
    }
  } else if (launcher == CompilerLauncher::CcVariables || !config.build.setup.empty()) {
    for (const auto& pair : {std::pair{"CC", "cc"}, {"CXX", "c++"}}) {
      const std::string variable = pair.first;
      const auto taken = std::find_if(given.begin(), given.end(), [&](const GivenCompiler& g) {
        return g.variable == variable;
      });
      if (taken == given.end()) {
        named.emplace_back(variable, pair.second);
      } else if (entryOf(taken->command) == Entry::Plain) {
        named.emplace_back(variable, taken->command);
      }
    }
  }
  std::string front = "distcc";
  if (!named.empty() && cacheAllowed(environment)) {
    const std::string cache = installedCache(environment, project.folder, {"ccache", "sccache"});
    if (cache == "sccache") {
      say(false, "sccache cannot hand compiles to distcc: distcc without a compiler cache");
    } else if (!cache.empty()) {
      front = cache;
      plan.compilerCache = cache;
      prefix = true;
    }
  }
  platform::EnvironmentOverrides& entry = plan.entry;
  for (const auto& [variable, compiler] : named) {
    std::string command = front;
    if (!compiler.empty()) command.append(" ").append(compiler);
    entry.emplace_back(variable, command);
  }
  if (launcher == CompilerLauncher::Launchers && front == "ccache") dependMode(entry, environment);
  if (prefix) setDefault(entry, environment, "CCACHE_PREFIX", "distcc");
  plan.possible = true;
  return plan;
}

BuildEnvironment buildEnvironment(const Project& project, const CommandOptions& options,
                                  const Environment& environment,
                                  const Distribution* distribution) {
  BuildEnvironment result;
  const BuildConfig& config = project.config;
  if (config.kind == &customKind() || (project.settings && project.settings->build)) {
    return result;  // the project's own command: quarn knows nothing of its tool
  }
  const Kind& kind = *config.kind;
  const bool spread = distribution != nullptr && distribution->possible && distribution->cluster &&
                      !distribution->cluster->usable().empty();
  if (!options.jobs && spread && !jobsChosen(kind.jobs, environment)) {
    addJobs(result, kind.jobs, distribution->cluster->slots(environment.processors()), environment);
  } else {
    addJobsOrDefault(result, kind.jobs, options, environment);
  }
  if (spread) {
    const Cluster& cluster = *distribution->cluster;
    result.variables.insert(result.variables.end(), distribution->entry.begin(),
                            distribution->entry.end());
    result.compilerCache = distribution->compilerCache;
    result.hosts = cluster.hostList(environment.processors());
    result.variables.emplace_back("DISTCC_HOSTS", result.hosts);
    setDefault(result, environment, "DISTCC_DIR", distccDirectory());
    return result;
  }
  addCompilerCache(result, kind, project.folder, environment);
  return result;
}

BuildEnvironment testEnvironment(const Project& project, const CommandOptions& options,
                                 const Environment& environment) {
  BuildEnvironment result;
  const BuildConfig& config = project.config;
  const std::optional<ProjectSettings>& settings = project.settings;
  if (config.kind == &customKind() || (settings && settings->test)) return result;
  const Kind& kind = *config.kind;
  if (options.jobs) addJobs(result, kind.testJobs, *options.jobs, environment);
  // The build run first is the project's own command where quarn.toml sets one.
  const bool ownBuild = settings && settings->build;
  if (kind.testBuildsFirst && ownBuild) return result;
  // The build the tests run first takes the build's setting where that is a variable (a flag
  // would go into the build's step, which the test step only follows).
  const Jobs& build = kind.jobs;
  if (kind.testBuildsFirst && build.via != Jobs::Via::Flag && !sameSetting(build, kind.testJobs)) {
    BuildEnvironment first;
    addJobsOrDefault(first, build, options, environment);
    result.variables.insert(result.variables.end(), first.variables.begin(), first.variables.end());
    if (result.jobs == 0) result.jobs = first.jobs;
  }
  // The tests of a kind that compiles are compiled by its tool, as the build is.
  addCompilerCache(result, kind, project.folder, environment);
  return result;
}

}  // namespace quarn
