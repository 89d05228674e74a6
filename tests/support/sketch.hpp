#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace quarn::test {

// Creates an entry in `dir` from its sketch: "name" a file, "name/" a folder, "name@" a broken
// link, "name|" a FIFO, "name!" an executable file, "name -> target" a link to target. Parents
// are made as needed.
inline void makeEntry(const TempDir& dir, const std::string& sketch,
                      const std::string& content = "x") {
  namespace fs = std::filesystem;
  const size_t arrow = sketch.find(" -> ");
  if (arrow != std::string::npos) {
    const fs::path link = dir / sketch.substr(0, arrow);
    fs::create_directories(link.parent_path());
    fs::create_symlink(sketch.substr(arrow + 4), link);
    return;
  }
  const std::string name = sketch.substr(0, sketch.size() - 1);
  const fs::path path = dir / name;
  if (std::string("/@|!").find(sketch.back()) != std::string::npos) {
    fs::create_directories(path.parent_path());
  }
  switch (sketch.back()) {
    case '/': fs::create_directories(path); break;
    case '@': fs::create_symlink(dir / "no-such-target", path); break;
    case '|': ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); break;
    case '!': fs::permissions(dir.write(name, content), fs::perms::owner_all); break;
    default: dir.write(sketch, content); break;
  }
}

}  // namespace quarn::test
