#pragma once

#include <string>

namespace quarn {

// The command handlers. Each takes the project folder as typed ("." by default) and returns the
// exit status: 0 when it did what was asked, 1 when the folder is not a recognised project or the
// command failed; the build commands return 130 for a build ended by Ctrl-C.

// Detects the project, checks its build tool and runs its build command in the project folder.
int cmdBuild(const std::string& path);

// As cmdBuild, after removing the project's "build" folder.
int cmdRebuild(const std::string& path);

// Shows the project's type, language, build tool and build command.
int cmdDetect(const std::string& path);

// Shows the project, its type, language and build tool, and whether the tool is installed.
int cmdInfo(const std::string& path);

// Confirms that the build tool is installed and shows its version line, or how to install it.
int cmdValidate(const std::string& path);

}  // namespace quarn
