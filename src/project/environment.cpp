#include "project/environment.hpp"

#include <cstdlib>
#include <filesystem>

#include "platform/environment.hpp"

namespace quarn {

namespace {

// Relative entries of the search path, the empty one included, are taken from `where`.
std::string locateIn(const std::string& name, std::vector<std::string> directories,
                     const std::string& where) {
  if (!where.empty()) {
    for (std::string& directory : directories) {
      // u8path: on Windows a plain std::string is read in the ANSI code page.
      const std::filesystem::path entry = std::filesystem::u8path(directory);
      if (entry.is_relative()) directory = (std::filesystem::u8path(where) / entry).u8string();
    }
  }
  return platform::findExecutableIn(name, directories);
}

class SystemEnvironment : public Environment {
 public:
  std::optional<std::string> variable(const std::string& name) const override {
    return platform::environmentVariable(name);
  }
  std::string locate(const std::string& name, const std::string& where) const override {
    return locateIn(name, platform::searchPathDirectories(), where);
  }
  unsigned processors() const override { return platform::availableProcessors(); }
};

}  // namespace

bool Environment::isSet(const std::string& name) const {
  const std::optional<std::string> value = variable(name);
  return value && !value->empty();
}

const Environment& Environment::system() {
  static const SystemEnvironment environment;
  return environment;
}

std::optional<std::string> FixedEnvironment::variable(const std::string& name) const {
  const auto found = variables_.find(name);
  return found != variables_.end() ? std::optional<std::string>(found->second) : std::nullopt;
}

std::string FixedEnvironment::locate(const std::string& name, const std::string& where) const {
  const char separator =
      platform::kCommandDialect == platform::CommandDialect::WindowsCmd ? ';' : ':';
  const std::string path = variable("PATH").value_or("");
  std::vector<std::string> directories;
  for (size_t start = 0;;) {
    const size_t end = path.find(separator, start);
    directories.push_back(path.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return locateIn(name, std::move(directories), where);
}

}  // namespace quarn
