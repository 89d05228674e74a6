#pragma once

#include "commands/project.hpp"

namespace quarn {

enum class CleanOutcome {
  Cleaned,      // the clean step ran and worked
  NothingToDo,  // there was nothing to remove and no command to run
  Failed,       // an error line says what could not be removed or which command failed
  Interrupted,  // Ctrl-C (or another stop signal) ended it; nothing must follow
};

// Runs `project`'s clean step in its folder: removes the folders its kind's tool writes ("build"),
// unless a work tree tracks files in them or cannot be asked, or they hold a repository of their
// own (a warning says so), then runs the kind's own clean command. With `dryRun`, says what it
// would do and does nothing.
CleanOutcome runCleanStep(const Project& project, bool dryRun);

}  // namespace quarn
