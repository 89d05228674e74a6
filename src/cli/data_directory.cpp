#include "cli/data_directory.hpp"

#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "base/logger.hpp"
#include "platform/environment.hpp"

namespace quarn {

namespace fs = std::filesystem;

std::string getDataDirectory() { return platform::dataDirectory(); }

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
