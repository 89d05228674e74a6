#include "commands/build_environment.hpp"

#include <string>

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

void setDefault(BuildEnvironment& result, const Environment& environment, const char* name,
                const std::string& value) {
  if (!environment.isSet(name)) result.variables.emplace_back(name, value);
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
  switch (kind.compilerCache) {
    case CompilerCache::None: break;
    case CompilerCache::Launchers:
      if (environment.isSet("CMAKE_C_COMPILER_LAUNCHER") ||
          environment.isSet("CMAKE_CXX_COMPILER_LAUNCHER")) {
        break;
      }
      result.compilerCache = installedCache(environment, folder, {"ccache", "sccache"});
      if (result.compilerCache.empty()) break;
      setDefault(result, environment, "CMAKE_C_COMPILER_LAUNCHER", result.compilerCache);
      setDefault(result, environment, "CMAKE_CXX_COMPILER_LAUNCHER", result.compilerCache);
      // CMake asks the compiler for its dependencies anyway; ccache then need not run the
      // preprocessor a second time for each miss, which is most of what a cold cache costs.
      if (result.compilerCache == "ccache" && !environment.isSet("CCACHE_DEPEND") &&
          !environment.isSet("CCACHE_NODEPEND")) {
        result.variables.emplace_back("CCACHE_DEPEND", "1");
      }
      break;
    case CompilerCache::RustcWrapper:
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

BuildEnvironment buildEnvironment(const Project& project, const CommandOptions& options,
                                  const Environment& environment) {
  BuildEnvironment result;
  const BuildConfig& config = project.config;
  if (config.kind == &customKind() || (project.settings && project.settings->build)) {
    return result;  // the project's own command: quarn knows nothing of its tool
  }
  addJobsOrDefault(result, config.kind->jobs, options, environment);
  addCompilerCache(result, *config.kind, project.folder, environment);
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
