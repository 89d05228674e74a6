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
  const Kind& kind = *config.kind;
  if (options.jobs) {
    addJobs(result, kind.jobs, *options.jobs, environment);
  } else if (kind.jobs.processorsByDefault && !environment.isSet(std::string(kind.jobs.text))) {
    addJobs(result, kind.jobs, environment.processors(), environment);
  }
  if (!cacheAllowed(environment)) return result;
  switch (kind.compilerCache) {
    case CompilerCache::None: break;
    case CompilerCache::Launchers:
      if (environment.isSet("CMAKE_C_COMPILER_LAUNCHER") ||
          environment.isSet("CMAKE_CXX_COMPILER_LAUNCHER")) {
        break;
      }
      result.compilerCache = installedCache(environment, project.folder, {"ccache", "sccache"});
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
      result.compilerCache = installedCache(environment, project.folder, {"sccache"});
      if (!result.compilerCache.empty()) {
        result.variables.emplace_back("RUSTC_WRAPPER", result.compilerCache);
      }
      break;
  }
  return result;
}

}  // namespace quarn
