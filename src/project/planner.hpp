#pragma once

#include <string>

#include "project/environment.hpp"
#include "project/kinds.hpp"
#include "project/project_type.hpp"

namespace quarn {

// The plan of `kind` as the kind table states it, before any evidence of a folder.
BuildConfig configFromTable(const Kind& kind);

// Adds `file` to the evidence of `config` unless it is there already: each file is named once.
void addEvidence(BuildConfig& config, const std::string& file);

struct PlanRequest {
  std::string folder;          // the project folder
  const Kind* kind = nullptr;  // the kind its markers decided, or the one chosen
  std::string marker;          // the marker that decided it; empty when chosen
  bool chosen = false;         // named by the user: evidence refines the plan but keeps the kind
  const Environment* environment = &Environment::system();
};

// The plan for building the project: the kind's row, refined by what the folder holds (a wrapper
// script, lockfiles and package.json, a virtual environment, a configure script, a makefile's
// clean target). Reads, never writes, and never fails: evidence that cannot be read is no evidence.
BuildConfig planBuild(const PlanRequest& request);

}  // namespace quarn
