#pragma once

#include <string>

namespace quarn {

// Returns the per-user data directory: $APPDATA/Quarn when APPDATA is set (even empty), else
// "Quarn" in the user's data folder of the platform, else ".quarn" in the current directory.
std::string getDataDirectory();

// Creates the data directory and its missing parents. A failure is logged as a warning and
// reported as false; nothing depends on the directory, so the program goes on.
bool ensureDataDirectory();

}  // namespace quarn
