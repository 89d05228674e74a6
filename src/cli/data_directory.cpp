#include "cli/data_directory.hpp"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "base/logger.hpp"
#include "platform/environment.hpp"

namespace quarn {

namespace fs = std::filesystem;

// Paths are made from quarn's text with u8path: on Windows a plain std::string would be read in
// the ANSI code page, which cannot spell a user's name in most scripts.
std::string getDataDirectory() {
  if (const auto appData = platform::environmentVariable("APPDATA")) {
    return (fs::u8path(*appData) / "Quarn").u8string();
  }
  if (auto dataHome = platform::userDataHome()) return (*dataHome / "Quarn").u8string();
  return ".quarn";
}

bool ensureDataDirectory() {
  const std::string directory = getDataDirectory();
  std::error_code error;
  fs::create_directories(fs::u8path(directory), error);
  if (!error) return true;
  Logger::get()->warn(
      fmt::format("Could not create data directory '{}': {}", directory, error.message()));
  return false;
}

}  // namespace quarn
