#include "commands/build_environment.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "project/kinds.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace {

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

bool cacheAllowed() {
  const char* value = std::getenv("QUARN_NO_CACHE");
  return value == nullptr || value[0] == '\0' || std::string(value) == "0";
}

void setDefault(BuildEnvironment& environment, const char* name, const std::string& value) {
  if (!isSet(name)) environment.variables.emplace_back(name, value);
}

// The first of the compiler caches installed, as a build in `folder` finds it.
std::string installedCache(const std::string& folder, std::initializer_list<const char*> caches) {
  for (const char* cache : caches) {
    if (!ToolRegistry::locate(cache, folder).empty()) return cache;
  }
  return {};
}

}  // namespace

BuildEnvironment buildEnvironment(const Project& project, const CommandOptions& options) {
  BuildEnvironment environment;
  const BuildConfig& config = project.config;
  if (config.projectType == ProjectType::Custom || (project.settings && project.settings->build)) {
    return environment;  // the project's own command: quarn knows nothing of its tool
  }
  const Kind& kind = kindOf(config.projectType);
  if (options.jobs) {
    const unsigned jobs = *options.jobs;
    environment.jobs = jobs;
    if (!kind.jobsFlag.empty()) {
      environment.flags = fmt::format(fmt::runtime(kind.jobsFlag), jobs);
    } else if (kind.jobsVariable == "MAKEFLAGS") {
      // Added to what the user's MAKEFLAGS already say.
      const std::string current = platform::environmentVariable("MAKEFLAGS").value_or("");
      const std::string before = current.empty() ? "" : current + " ";
      environment.variables.emplace_back("MAKEFLAGS", before + fmt::format("-j{}", jobs));
    } else if (!kind.jobsVariable.empty()) {
      environment.variables.emplace_back(std::string(kind.jobsVariable), std::to_string(jobs));
    }
  }
  const bool cache = cacheAllowed();
  switch (config.projectType) {
    case ProjectType::CMake: {
      if (!options.jobs && !isSet("CMAKE_BUILD_PARALLEL_LEVEL")) {
        environment.jobs = platform::availableProcessors();
        environment.variables.emplace_back("CMAKE_BUILD_PARALLEL_LEVEL",
                                           std::to_string(environment.jobs));
      }
      // A folder configured already keeps its generator: CMake refuses another.
      std::error_code error;
      const std::filesystem::file_type cacheFile = platform::fileType(
          (std::filesystem::u8path(project.folder) / "build" / "CMakeCache.txt").u8string(), true,
          error);
      const bool configured = cacheFile != std::filesystem::file_type::none &&
                              cacheFile != std::filesystem::file_type::not_found;
      if (!configured && !isSet("CMAKE_GENERATOR") &&
          !ToolRegistry::locate("ninja", project.folder).empty()) {
        environment.generator = "Ninja";
        environment.variables.emplace_back("CMAKE_GENERATOR", "Ninja");
      }
      if (cache && !isSet("CMAKE_C_COMPILER_LAUNCHER") && !isSet("CMAKE_CXX_COMPILER_LAUNCHER")) {
        environment.compilerCache = installedCache(project.folder, {"ccache", "sccache"});
        if (!environment.compilerCache.empty()) {
          setDefault(environment, "CMAKE_C_COMPILER_LAUNCHER", environment.compilerCache);
          setDefault(environment, "CMAKE_CXX_COMPILER_LAUNCHER", environment.compilerCache);
        }
        // CMake asks the compiler for its dependencies anyway; ccache then need not run the
        // preprocessor a second time for each miss, which is most of what a cold cache costs.
        if (environment.compilerCache == "ccache" && !isSet("CCACHE_DEPEND") &&
            !isSet("CCACHE_NODEPEND")) {
          environment.variables.emplace_back("CCACHE_DEPEND", "1");
        }
      }
      break;
    }
    case ProjectType::Cargo:
      if (cache && !isSet("RUSTC_WRAPPER")) {
        environment.compilerCache = installedCache(project.folder, {"sccache"});
        if (!environment.compilerCache.empty()) {
          environment.variables.emplace_back("RUSTC_WRAPPER", environment.compilerCache);
        }
      }
      break;
    default: break;
  }
  return environment;
}

}  // namespace quarn
