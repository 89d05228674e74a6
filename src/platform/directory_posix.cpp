#include "platform/directory.hpp"

#include <dirent.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <system_error>

namespace quarn::platform {

bool anyEntryName(const std::string& directory,
                  const std::function<bool(std::string_view)>& onName) {
  namespace fs = std::filesystem;
  // An empty text names the current directory, as it does for the existence tests.
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(directory.empty() ? "." : directory.c_str()),
                                          ::closedir);
  if (!dir) {
    throw fs::filesystem_error("directory_iterator::directory_iterator", directory,
                               std::error_code(errno, std::generic_category()));
  }
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir.get());
    if (entry == nullptr) {
      if (errno != 0) {
        throw fs::filesystem_error("directory_iterator::operator++", directory,
                                   std::error_code(errno, std::generic_category()));
      }
      return false;
    }
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (onName(name)) return true;
  }
}

}  // namespace quarn::platform
