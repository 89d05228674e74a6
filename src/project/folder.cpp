#include "project/folder.hpp"

#include <filesystem>
#include <system_error>

#include "platform/directory.hpp"
#include "platform/environment.hpp"
#include "platform/files.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

// Asked of the platform, which takes paths of any length and sees junctions as links.
fs::file_type typeOf(const std::string& path, bool followLinks) {
  std::error_code error;
  return platform::fileType(path, followLinks, error);
}

}  // namespace

// u8path: on Windows a plain std::string is read in the ANSI code page.
std::string Folder::at(const std::string& name) const {
  return (fs::u8path(path_) / fs::u8path(name)).u8string();
}

bool Folder::hasFile(const std::string& name) const {
  return typeOf(at(name), true) == fs::file_type::regular;
}

bool Folder::hasFolder(const std::string& name) const {
  return typeOf(at(name), true) == fs::file_type::directory;
}

bool Folder::hasEntry(const std::string& name) const {
  const fs::file_type type = typeOf(at(name), false);
  return type != fs::file_type::not_found && type != fs::file_type::none;
}

bool Folder::hasProgram(const std::string& name) const {
  return platform::kCommandDialect == platform::CommandDialect::WindowsCmd
             ? hasFile(name)
             : platform::isExecutableFile(at(name));
}

std::optional<std::string> Folder::read(const std::string& name, std::size_t limit) const {
  platform::FileText file = platform::readRegularFile(at(name), limit);
  if (file.status != platform::FileText::Status::Read) return std::nullopt;
  return std::move(file.text);
}

std::vector<std::string> Folder::entries() const {
  std::vector<std::string> names;
  try {
    platform::anyEntryName(path_, [&names](std::string_view name) {
      names.emplace_back(name);
      return false;
    });
  } catch (const fs::filesystem_error&) {
    // A folder that cannot be listed holds nothing a rule could go by.
  }
  return names;
}

}  // namespace quarn
