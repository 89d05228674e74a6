#pragma once

#include "commands/project.hpp"

namespace quarn {

enum class CleanOutcome {
  Cleaned,      // the clean step ran and worked
  NothingToDo,  // there was nothing to remove and no command to run
  Failed,       // an error line says what could not be removed or which command failed
  Interrupted,  // Ctrl-C (or another stop signal) ended it; nothing must follow
};

// Whether the clean step removes `project`'s "build" folder: the kind's own tool writes it, or the
// project's quarn.toml sets the build command.
bool buildFolderIsOutput(const Project& project);

// Runs `project`'s clean step in its folder: removes its "build" folder where that is the build's
// output, unless a work tree tracks files in it or cannot be asked, or it holds a repository of its
// own (a warning says so), then runs the kind's own clean command. With `dryRun`, says what it
// would do and does nothing.
CleanOutcome runCleanStep(const Project& project, bool dryRun);

}  // namespace quarn
