#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace quarn::platform {

// The key under which install guides are kept for the system quarn was built for; null on a
// system that has none.
#if defined(_WIN32)
inline constexpr const char* kOsKey = "windows";
#elif defined(__APPLE__)
inline constexpr const char* kOsKey = "macos";
#elif defined(__linux__)
inline constexpr const char* kOsKey = "linux";
#else
inline constexpr const char* kOsKey = nullptr;
#endif

// How the platform's command processor reads a command line.
enum class CommandDialect { PosixShell, WindowsCmd };
extern const CommandDialect kCommandDialect;

// The value of the environment variable `name` as UTF-8 text, whatever the system's code page;
// nullopt when it is not set.
std::optional<std::string> environmentVariable(const std::string& name);

// The arguments quarn was started with, after its own name, as UTF-8 text. On Windows the narrow
// `argv` is in the ANSI code page, which turns what it cannot spell into '?', so they are read
// from the wide command line instead; elsewhere `argv` is taken as it is.
std::vector<std::string> commandLineArguments(int argc, char** argv);

// Returns the per-user folder that applications keep their data in, when the environment names
// one ($XDG_DATA_HOME when absolute, else $HOME/.local/share); nullopt otherwise.
std::optional<std::filesystem::path> userDataHome();

// Returns quarn's per-user data directory: "Quarn" in $APPDATA when APPDATA is set (even empty),
// else in userDataHome(), else ".quarn" in the current directory.
std::string dataDirectory();

// Returns the directories of the search path in order. An empty entry stands for the current
// directory; an unset PATH gives the system's default path.
std::vector<std::string> searchPathDirectories();

// Returns whether `name` is an executable program in one of `directories`, searched in order:
// a regular file (symlinks followed) that this process may execute. An empty directory text is
// the current directory.
bool isExecutableIn(const std::string& name, const std::vector<std::string>& directories);

// The path of `name` in the first of `directories` that holds it as isExecutableIn finds it, or
// an empty text.
std::string findExecutableIn(const std::string& name, const std::vector<std::string>& directories);

// isExecutableIn over the search path of this process.
bool isOnSearchPath(const std::string& name);

// The number of processors this process may run on (its affinity, not the machine's count),
// at least 1.
unsigned availableProcessors();

}  // namespace quarn::platform
