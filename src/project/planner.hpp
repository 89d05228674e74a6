#pragma once

#include <string>

#include "project/project_type.hpp"

namespace quarn {

// The plan of `type` as the kind table states it, before any evidence of a folder.
BuildConfig configFromTable(ProjectType type);

struct PlanRequest {
  std::string folder;                       // the project folder
  ProjectType type = ProjectType::Unknown;  // the kind its markers decided, or the one chosen
  std::string marker;                       // the marker that decided it; empty when chosen
  bool chosen = false;  // named by the user: evidence refines the plan but keeps the kind
};

// The plan for building the project: the kind's row, refined by what the folder holds (a wrapper
// script, lockfiles and package.json, a virtual environment, a configure script, a makefile's
// clean target). Reads, never writes, and never fails: evidence that cannot be read is no evidence.
BuildConfig planBuild(const PlanRequest& request);

// The build command with `flags` (such as "-T 4") and then `arguments` (quoted already) put into
// the build step where the kind takes them, the arguments after the kind's prefix ("--" for npm).
std::string commandWith(const BuildConfig& config, const std::string& flags,
                        const std::string& arguments);

}  // namespace quarn
