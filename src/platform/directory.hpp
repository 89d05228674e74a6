#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace quarn::platform {

// Calls onName with the name of each immediate entry of `directory` ("." and ".." left out), in the
// order the filesystem returns them, until onName returns true. Returns whether it did.
// The names are raw bytes and valid only during the call. Throws std::filesystem::filesystem_error
// with "directory_iterator::directory_iterator" when the listing cannot be opened and
// "directory_iterator::operator++" when reading the next entry fails.
bool anyEntryName(const std::string& directory,
                  const std::function<bool(std::string_view)>& onName);

}  // namespace quarn::platform
