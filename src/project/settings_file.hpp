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
  std::optional<std::string> build;
  std::optional<std::string> clean;
  std::optional<std::vector<std::string>> tools;
  std::optional<std::vector<std::string>> hosts;  // distcc hosts to spread compiles over
  std::vector<std::string> keys;                  // the keys it sets, in the file's order
};

// A quarn.toml that cannot be taken as it is: the message names the file, line and column.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Reads `folder`'s quarn.toml; nullopt when there is none. Throws SettingsError when the file
// cannot be read, does not parse, or holds a key quarn does not know or a value of the wrong type.
// The file is named in `shownFolder` (the folder as the user typed it) when that is not empty.
std::optional<ProjectSettings> readProjectSettings(const std::string& folder,
                                                   const std::string& shownFolder = {});

}  // namespace quarn
