#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "project/project_type.hpp"

namespace quarn {

// One kind of project: how it is recognised and how it is built and cleaned.
struct Kind {
  ProjectType type;
  std::string_view name;  // what --kind and quarn.toml call it
  std::string_view displayName;
  std::string_view language;
  std::string_view tool;  // the registry's key of its build tool
  // The marker names, tried in this order at the kind's place in the table. "*" after a name:
  // also any entry whose name contains it, in all lower or all upper case. "!" after a name: only
  // an executable file counts.
  std::string_view markers;
  // The build command. Setup steps end with "&& "; "{}" marks where passed arguments go (the end
  // when there is none).
  std::string_view build;
  std::string_view clean;         // the kind's own clean command, besides removing "build"
  std::string_view jobsFlag;      // added to the build step for --jobs N, "{}" the number
  std::string_view jobsVariable;  // or set in the build's environment for --jobs N
  std::string_view wrapper;       // the project's own script that runs the tool: on POSIX,
  std::string_view wrapperCmd;    // on Windows,
  std::string_view wrapperTool;   // and what it needs on the search path
};

// Every kind, in order of precedence: the first whose marker a folder holds decides. Kinds
// without markers are reached from another's evidence (a lockfile, a quarn.toml).
const std::vector<Kind>& kinds();

// The row of `type`; the Unknown row for values out of range.
const Kind& kindOf(ProjectType type);

// The row whose name is `name`, or null.
const Kind* kindNamed(std::string_view name);

// The names --kind and quarn.toml accept, in table order.
std::vector<std::string> kindNames();

}  // namespace quarn
