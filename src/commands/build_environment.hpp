#pragma once

#include <string>

#include "commands/options.hpp"
#include "commands/project.hpp"
#include "platform/process.hpp"

namespace quarn {

// What quarn adds to a build to make it as fast as the project allows, without changing what is
// built: defaults that the user's own settings always override.
struct BuildEnvironment {
  platform::EnvironmentOverrides variables;  // set in the build's environment
  std::string flags;                         // added to the build step (for --jobs)
  unsigned jobs = 0;          // the parallelism asked for or chosen; 0: the tool's own
  std::string generator;      // the CMake generator chosen
  std::string compilerCache;  // the compiler cache put in front of the compiler
};

// The defaults for building `project`: for CMake, a parallel level of the processors quarn may
// use and Ninja for a build folder not configured yet; a compiler cache where one is installed
// and none is chosen (QUARN_NO_CACHE turns this off); and --jobs for every kind that takes it.
BuildEnvironment buildEnvironment(const Project& project, const CommandOptions& options);

}  // namespace quarn
