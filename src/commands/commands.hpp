#pragma once

#include <string>

#include "commands/options.hpp"

namespace quarn {

// The command handlers. Each returns the exit status: 0 when it did what was asked, 1 when the
// folder is not a recognised project or the command failed; build, rebuild, clean and test return
// 130 for a step ended by Ctrl-C. A quarn.toml that cannot be taken is thrown as SettingsError.

// Detects the project, checks its build tools and runs its build command in the project folder.
int cmdBuild(const CommandOptions& options);

// Detects the project, checks the tools its tests need and runs its tests in the project folder,
// building it first where the kind's test step needs that; says so when there are none.
int cmdTest(const CommandOptions& options);

// As cmdBuild, after the project's clean step.
int cmdRebuild(const CommandOptions& options);

// Runs the project's clean step: removes its "build" folder, then runs the kind's own clean.
int cmdClean(const CommandOptions& options);

// Shows the project's type, language, build tool and build command.
int cmdDetect(const CommandOptions& options);

// Shows the project, its type, language and build tool, and whether the tool is installed.
int cmdInfo(const CommandOptions& options);

// Confirms that the build tools are installed and shows their version lines, or how to install
// them.
int cmdValidate(const CommandOptions& options);

// Writes an error as the one JSON object of a --json run.
void printJsonError(const std::string& message);

}  // namespace quarn
