#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarn {

// The name of the file in a project's root folder that overrides what detection decides.
inline constexpr const char* kSettingsFileName = "quarn.toml";

// What a project's quarn.toml sets. What it leaves out comes from detection.
struct ProjectSettings {
  std::string file;  // its path as the user knows it (see readProjectSettings)
  std::optional<std::string> kind;
  std::optional<std::string> build;  // without blank space or blank lines around it
  std::optional<std::string> clean;  // likewise; empty: the clean step does nothing
  std::optional<std::string> test;   // likewise; empty: there are no tests to run
  std::optional<std::vector<std::string>> tools;
  std::optional<std::vector<std::string>> hosts;  // distcc hosts to spread compiles over
  std::vector<std::string> keys;                  // the keys it sets, in the file's order
  // Where arguments passed after "--" go in `build`: before a trailing comment, else (npos) at
  // the end.
  std::size_t buildArgumentsAt = std::string::npos;
  // Why `build` can take no arguments, naming the file and place; empty when it can.
  std::string buildRefusesArguments;
  // The same for `test`.
  std::size_t testArgumentsAt = std::string::npos;
  std::string testRefusesArguments;
};

// A quarn.toml that cannot be taken as it is: the message names the file, line and column.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads `folder`'s quarn.toml; nullopt when there is none. Throws SettingsError when the file
// cannot be read (a link to nothing included), does not parse, or holds a key quarn does not know,
// a value of the wrong type, an empty `build` or tool name, or a control character that the
// command processor would cut the text at or take for something else (tab and, for a POSIX shell,
// line feed are allowed in `build` and `clean`). The file is named in `shownFolder` (the folder as
// the user typed it) when that is not empty.
std::optional<ProjectSettings> readProjectSettings(const std::string& folder,
                                                   const std::string& shownFolder = {});

}  // namespace quarn
