#pragma once

#include <string>

#include "commands/options.hpp"
#include "commands/project.hpp"
#include "platform/process.hpp"
#include "project/environment.hpp"
#include "project/kinds.hpp"

namespace quarn {

// What quarn adds to a build to make it as fast as the project allows, without changing what is
// built: defaults that the user's own settings always override.
struct BuildEnvironment {
  platform::EnvironmentOverrides variables;  // set in the build's environment
  std::string flags;                         // added to the build step (for --jobs)
  unsigned jobs = 0;          // the parallelism asked for or chosen; 0: the tool's own
  std::string compilerCache;  // the compiler cache put in front of the compiler
};

// The defaults for building `project`, as its kind's row says: the parallel level of the
// processors quarn may use where the kind takes one by default, a compiler cache where one is
// installed and none is chosen (QUARN_NO_CACHE turns this off), and --jobs through the kind's own
// setting.
BuildEnvironment buildEnvironment(const Project& project, const CommandOptions& options,
                                  const Environment& environment = Environment::system());

// The same for running the tests: --jobs through the kind's test setting and, where the tests run
// the build first, through the build's setting too when that is a variable; the build's defaults.
BuildEnvironment testEnvironment(const Project& project, const CommandOptions& options,
                                 const Environment& environment = Environment::system());

// The flag or variable that asks the kind's tool for `count` jobs, by `jobs`.
void addJobs(BuildEnvironment& result, const Jobs& jobs, unsigned count,
             const Environment& environment);

}  // namespace quarn
