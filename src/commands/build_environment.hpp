#pragma once

#include <optional>
#include <string>
#include <vector>

#include "commands/distribution.hpp"
#include "commands/options.hpp"
#include "commands/project.hpp"
#include "platform/process.hpp"
#include "project/environment.hpp"
#include "project/kinds.hpp"

namespace quarn {

// A line said before the build.
struct Remark {
  bool warning = false;
  std::string text;
};

// How a build's compiles would be spread over distcc hosts, as far as the folder and the
// environment tell without asking the network.
struct Distribution {
  std::optional<Cluster> cluster;  // the hosts asked for; nullopt: none
  bool possible = false;           // distcc can enter this build: its hosts are worth checking
  platform::EnvironmentOverrides entry;  // what puts distcc (behind a cache) before the compiler
  std::string compilerCache;             // the cache quarn puts in front of distcc, if any
  std::vector<Remark> remarks;           // why the build stays here, or how distcc enters it
};

// What quarn adds to a build to make it as fast as the project allows, without changing what is
// built: defaults that the user's own settings always override.
struct BuildEnvironment {
  platform::EnvironmentOverrides variables;  // set in the build's environment
  std::string flags;                         // added to the build step (for --jobs)
  unsigned jobs = 0;          // the parallelism asked for or chosen; 0: the tool's own
  std::string compilerCache;  // the compiler cache put in front of the compiler
  std::string hosts;          // DISTCC_HOSTS when the compiles are spread; empty: built here
};

// Where the hosts come from and how distcc would enter the build of `project`: behind ccache
// (CCACHE_PREFIX) or alone, through the variables the kind's row names. It stays out, with a
// remark, of a kind distcc cannot help, of a build whose compiler was chosen already without it
// (a build folder configured, a makefile's CC, the user's CC), and when distcc is not installed.
Distribution planDistribution(const Project& project, const CommandOptions& options,
                              const Environment& environment = Environment::system());

// The defaults for building `project`, as its kind's row says: the parallel level of the
// processors quarn may use where the kind takes one by default, a compiler cache where one is
// installed and none is chosen (QUARN_NO_CACHE turns this off), and --jobs through the kind's own
// setting (`jobs`, the build's or the tests'). With a `distribution` possible and hosts that
// answer: distcc's entry, DISTCC_HOSTS with this machine, DISTCC_DIR, and the cluster's slots for
// the parallel level.
BuildEnvironment buildEnvironment(const Project& project, const CommandOptions& options,
                                  const Environment& environment = Environment::system(),
                                  const Distribution* distribution = nullptr);

// The same for running the tests: --jobs through the kind's test setting and, where the tests run
// the build first, through the build's setting too when that is a variable; the build's defaults.
BuildEnvironment testEnvironment(const Project& project, const CommandOptions& options,
                                 const Environment& environment = Environment::system());

// The flag or variable that asks the kind's tool for `count` jobs, by `jobs`.
void addJobs(BuildEnvironment& result, const Jobs& jobs, unsigned count,
             const Environment& environment);

}  // namespace quarn
