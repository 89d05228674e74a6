// Where quarn takes the project to be when run in a subfolder, as cargo, npm and go do.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/sketch.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::Workspace;

struct Case {
  const char* what;
  std::vector<std::string> entries;  // sketches, see makeEntry
  std::string cwd;                   // where quarn runs, inside the workspace
  std::vector<std::string> args;
  std::string root;  // the project folder expected, relative to the workspace; "-": none
  bool announced;    // "Project root: ..." is said
};

TEST(ProjectRoot, FoundAboveTheCurrentFolderOnlyInsideAWorkTree) {
  const Case cases[] = {
      {"the repository's root",
       {".git/", "Makefile", "src/deep/"},
       "src/deep",
       {"build"},
       "",
       true},
      {"the nearest parent",
       {".git/", "Makefile", "lib/Makefile", "lib/src/"},
       "lib/src",
       {"build"},
       "lib",
       true},
      {"a .git file, as in a worktree", {".git", "Makefile", "sub/"}, "sub", {"build"}, "", true},
      {"a Mercurial work tree", {".hg/", "Makefile", "sub/"}, "sub", {"build"}, "", true},
      {"a quarn.toml above", {".git/", "quarn.toml", "sub/"}, "sub", {"build"}, "", true},
      {"a folder with its own marker",
       {".git/", "Makefile", "sub/Makefile"},
       "sub",
       {"build"},
       "sub",
       false},
      {"outside any work tree", {"Makefile", "sub/"}, "sub", {"build"}, "-", false},
      {"a path given", {".git/", "Makefile", "sub/"}, "sub", {"build", "."}, "-", false},
      {"not past the repository's root",
       {"Makefile", "repo/.git/", "repo/sub/"},
       "repo/sub",
       {"build"},
       "-",
       false},
  };
  for (const Case& c : cases) {
    Workspace ws;
    for (const std::string& entry : c.entries) test::makeEntry(ws.dir, entry);
    if (fs::exists(ws.dir / "quarn.toml")) ws.dir.write("quarn.toml", "kind = \"make\"\n");
    ws.tools.add("make", "touch built");
    ws.options.cwd = ws.dir / c.cwd;
    const test::RunResult result = ws.quarn(c.args);
    const fs::path root = c.root.empty() ? ws.dir.path() : ws.dir / c.root;
    const std::string line = "[info] Project root: " + root.string();
    if (c.root == "-") {
      EXPECT_EQ(result.status, 1) << c.what << result.out;
      EXPECT_NE(result.out.find("[error] Could not detect project type"), std::string::npos);
      continue;
    }
    EXPECT_EQ(result.status, 0) << c.what << result.out;
    EXPECT_TRUE(fs::exists(ws.dir / c.root / "built")) << c.what << ": built elsewhere";
    // Said once, first, and only when the project is not the current folder.
    const std::string opening =
        test::banner() + (c.announced ? line + "\n" : "") + "[info] Detected:";
    EXPECT_EQ(result.out.rfind(opening, 0), 0u) << c.what << result.out;
  }
}

}  // namespace
}  // namespace quarn
