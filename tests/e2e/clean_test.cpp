// The clean step of `quarn clean` and `quarn rebuild`, end to end: what goes, what stays and why,
// and which command each kind cleans with.
#include <sys/mount.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project/kinds.hpp"
#include "support/real_tools.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::copyExample;
using test::realToolOptions;
using test::RunOptions;
using test::runQuarn;
using test::TempDir;
using test::toolAvailable;
using test::Workspace;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

size_t count(const std::string& text, const std::string& part) {
  size_t found = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++found;
  return found;
}

// Runs the system's git in `folder`, with an identity for commits.
void git(const fs::path& folder, std::vector<std::string> args) {
  args.insert(args.begin(), {"git", "-c", "user.name=quarn", "-c", "user.email=quarn@localhost"});
  RunOptions options;
  options.cwd = folder;
  options.env = {{"PATH", "/usr/bin:/bin"}};
  const test::RunResult result = test::runProgram(args, options);
  ASSERT_EQ(result.status, 0) << args[5] << ": " << result.err;
}

// A fake tool that records how it was called in the file "ran" of the folder it runs in.
const char* const kRecord = "echo \"${0##*/} $*\" >> ran";

struct Scenario {
  std::string golden;
  std::vector<std::string> args;
  std::map<std::string, std::string> files;  // created in the workspace
  std::map<std::string, std::string> tools;  // fake tools on PATH
  int status;
};

TEST(Clean, ScenariosMatchTheirGoldenOutputAndStatus) {
  const std::vector<Scenario> scenarios = {
      // No cmake on PATH: removing the build folder needs none.
      {"clean-success",
       {"clean", "app"},
       {{"app/CMakeLists.txt", ""}, {"app/build/CMakeCache.txt", ""}},
       {},
       0},
      {"clean-nothing", {"clean", "app"}, {{"app/CMakeLists.txt", ""}}, {}, 0},
      {"clean-missing-tool", {"clean", "app"}, {{"app/Cargo.toml", ""}}, {}, 1},
      {"clean-failure",
       {"clean", "app"},
       {{"app/Cargo.toml", ""}},
       {{"cargo", "echo 'error: could not remove target'; exit 101"}},
       1},
      {"clean-unknown", {"clean", "app"}, {{"app/README", ""}}, {}, 1},
  };
  for (const Scenario& s : scenarios) {
    const Workspace ws;
    for (const auto& [name, content] : s.files) ws.dir.write(name, content);
    for (const auto& [name, script] : s.tools) ws.tools.add(name, script);
    const test::RunResult result = ws.quarn(s.args);
    EXPECT_EQ(result.status, s.status) << s.golden;
    EXPECT_TRUE(test::matchesGolden(s.golden, result.out));
  }
}

// Each kind whose output is not in "build" has its own clean, run in the project folder; where
// the project does not define one, nothing runs. "build" goes only where the kind's tool writes
// it: elsewhere it is the project's own (Go keeps packaging and CI files there) and stays,
// silently.
TEST(Clean, EachKindCleansWithItsOwnCommand) {
  struct Case {
    std::map<std::string, std::string> files;  // in "app"
    std::vector<std::string> options;
    std::string ran;  // what the fake tool recorded; empty: nothing ran
    bool keepsBuild;
  };
  const std::string withClean = R"({"scripts": {"build": "b", "clean": "c"}})";
  const std::string withoutClean = R"({"scripts": {"build": "b"}})";
  const Case cases[] = {
      {{{"Cargo.toml", ""}}, {}, "cargo clean", true},
      {{{"App.csproj", ""}}, {}, "dotnet clean -c Release", true},
      {{{"go.mod", "module example.com/app\n"}}, {}, "go clean", true},
      {{{"pom.xml", ""}}, {}, "", true},
      {{{"dune-project", ""}}, {}, "dune clean", true},
      {{{"mix.exs", ""}}, {}, "mix clean", true},
      {{{"Makefile", "all:\n\ttrue\nclean:\n\ttrue\n"}}, {}, "make clean", false},
      {{{"Makefile", "all:\n\ttrue\n# clean: is only a comment\n"}}, {}, "", false},
      {{{"configure.ac", ""}, {"Makefile", "all clean:\n\ttrue\n"}},
       {"--kind", "autotools"},
       "make clean",
       false},
      {{{"configure.ac", ""}}, {}, "", false},  // not configured: no makefile yet
      {{{"package.json", withClean}}, {}, "npm run clean", false},
      {{{"package.json", withoutClean}}, {}, "", false},
      {{{"package.json", withClean}, {"pnpm-lock.yaml", ""}}, {}, "pnpm run clean", false},
      {{{"package.json", withClean}, {"yarn.lock", ""}}, {}, "yarn run clean", false},
      {{{"package.json", withClean}, {"bun.lock", ""}}, {}, "bun run clean", false},
      {{{"CMakeLists.txt", ""}}, {}, "", false},
      {{{"Package.swift", ""}}, {}, "swift package clean", true},
      {{{"MODULE.bazel", ""}}, {}, "bazel clean", true},
      {{{"stack.yaml", ""}}, {}, "stack clean", true},
      {{{"app.cabal", ""}}, {}, "cabal clean", true},
      {{{"build.sbt", ""}}, {}, "sbt clean", true},
  };
  for (const Case& c : cases) {
    const Workspace ws;
    std::string shown;
    for (const auto& [name, content] : c.files) {
      ws.dir.write("app/" + name, content);
      shown += name + " ";
    }
    const fs::path kept = ws.dir.write("app/build/ci/Dockerfile");
    for (const Kind& kind : kinds()) {
      for (const Tool* tool : kind.tools) ws.tools.add(std::string(tool->name), kRecord);
    }
    // A make that cannot say whether it has a clean target leaves it to the makefile's reading.
    ws.tools.add("make", std::string("[ \"$1\" = -p ] && exit 2\n") + kRecord);
    std::vector<std::string> args{"clean", "app"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const test::RunResult result = ws.quarn(args);
    EXPECT_EQ(result.status, 0) << shown << result.out;
    if (c.ran.empty()) {
      EXPECT_FALSE(fs::exists(ws.dir / "app/ran")) << shown << test::readFile(ws.dir / "app/ran");
    } else {
      EXPECT_EQ(test::readFile(ws.dir / "app/ran"), c.ran + "\n") << shown;
    }
    EXPECT_EQ(fs::exists(kept), c.keepsBuild) << shown << result.out;
    EXPECT_FALSE(contains(result.out, "[warning]")) << shown << result.out;
    EXPECT_TRUE(contains(result.out, "[info] Cleaning build directory...\n")) << shown;
    EXPECT_TRUE(contains(result.out, c.ran.empty() && c.keepsBuild ? "[info] ✓ Nothing to clean\n"
                                                                   : "[info] ✓ Clean successful ("))
        << shown << result.out;
  }
}

// "build" may hold the project's own sources: where a work tree tracks files in it, or cannot be
// asked, or it holds a repository of its own, it stays, and one warning says why. The project is
// the folder the system reaches, however it is named: through a link, with "..", or found from
// inside its own build folder, which rebuild then builds.
TEST(Clean, TheBuildFolderStaysWhereAWorkTreeMayTrackIt) {
  enum class Tree {
    None,
    GitUntracked,
    GitTracksRootBuild,
    GitTracked,
    GitNotInstalled,
    Hg,
    Svn,
    GitDirElsewhere,    // a bare repository named by GIT_DIR and GIT_WORK_TREE, no .git above
    GitDirOverTracked,  // the same over a work tree whose own .git tracks files in build
    GitBeyondCeiling,   // GIT_CEILING_DIRECTORIES keeps git from the .git that tracks them
  };
  struct Case {
    std::string name;
    Tree tree;
    std::string warning;  // empty: "build" goes
    // "{links}" stands for a folder outside the work tree with a link "app" to the project.
    std::string path;    // empty: none, run in `cwd`
    std::string cwd;     // relative to the workspace
    std::string nested;  // a repository with a commit of its own, at this place in build
  };
  const Case cases[] = {
      {"outside any work tree", Tree::None, "", "app", "", ""},
      {"git lists nothing", Tree::GitUntracked, "", "app", "", ""},
      // Asked in the project folder, not at the work tree's root.
      {"git tracks the root's build only", Tree::GitTracksRootBuild, "", "app", "", ""},
      {"git tracks files in build", Tree::GitTracked, "git tracks files in it", "app", "", ""},
      {"git not installed", Tree::GitNotInstalled,
       "it lies in a git work tree and git is not installed to say what it tracks", "app", "", ""},
      {"Mercurial", Tree::Hg,
       "it lies in a Mercurial work tree, which quarn cannot ask which files it tracks", "app", "",
       ""},
      {"Subversion", Tree::Svn,
       "it lies in a Subversion work tree, which quarn cannot ask which files it tracks", "app", "",
       ""},
      {"through a link", Tree::GitTracked, "git tracks files in it", "{links}/app", "", ""},
      {"through a link, from beside it", Tree::GitTracked, "git tracks files in it", "app",
       "{links}", ""},
      // sub/.. is app to the system, and the work tree's own root to the text.
      {"through a link and ..", Tree::GitTracksRootBuild, "", "sub/..", "", ""},
      {"GIT_DIR and GIT_WORK_TREE", Tree::GitDirElsewhere, "git tracks files in it", "app", "", ""},
      {"GIT_DIR over a work tree of its own", Tree::GitDirOverTracked, "git tracks files in it",
       "app", "", ""},
      {"beyond GIT_CEILING_DIRECTORIES", Tree::GitBeyondCeiling, "git tracks files in it", "app",
       "", ""},
      {"a repository as build", Tree::None, "it holds a repository of its own ('app/build/.git')",
       "app", "", "."},
      {"a repository in build", Tree::None,
       "it holds a repository of its own ('app/build/tools/.git')", "app", "", "tools"},
      // Where CMake's FetchContent clones: build output, not a checkout of the user's.
      {"a clone deep in build", Tree::None, "", "app", "", "_deps/lib-src"},
      {"from inside build", Tree::GitUntracked, "", "", "app/build/output", ""},
  };
  for (const Case& c : cases) {
    Workspace ws;
    ws.dir.write("app/Makefile", "all:\n\ttouch built\n");
    ws.tools.add("make", "[ \"$1\" = -p ] && exit 2; touch built");
    const TempDir links;
    fs::create_directory_symlink(ws.dir / "app", links / "app");
    fs::create_directories(ws.dir / "app/x");
    fs::create_directory_symlink(ws.dir / "app/x", ws.dir / "sub");
    const bool usesGit = c.tree != Tree::None && c.tree != Tree::Hg && c.tree != Tree::Svn &&
                         c.tree != Tree::GitDirElsewhere;
    if (usesGit) git(ws.dir.path(), {"init", "-q"});
    if (c.tree != Tree::GitNotInstalled) ws.tools.linkSystem({"git"});
    if (c.tree == Tree::GitTracksRootBuild) {
      ws.dir.write("build/tracked");
      git(ws.dir.path(), {"add", "build/tracked"});
    }
    if (c.tree == Tree::GitTracked || c.tree == Tree::GitDirOverTracked ||
        c.tree == Tree::GitBeyondCeiling) {
      ws.dir.write("app/build/tracked");
      git(ws.dir.path(), {"add", "app/build/tracked"});
    }
    if (c.tree == Tree::GitBeyondCeiling) {
      ws.options.env["GIT_CEILING_DIRECTORIES"] = ws.dir.path().string();
    }
    if (c.tree == Tree::GitDirElsewhere || c.tree == Tree::GitDirOverTracked) {
      const std::string gitDir = (ws.dir / "home.git").string();
      git(ws.dir.path(), {"init", "-q", "--bare", gitDir});
      const std::string tracked = c.tree == Tree::GitDirElsewhere ? "app/build/tracked" : "notes";
      ws.dir.write(tracked);
      git(ws.dir.path(), {"--git-dir=" + gitDir, "--work-tree=.", "add", tracked});
      ws.options.env["GIT_DIR"] = gitDir;
      ws.options.env["GIT_WORK_TREE"] = ws.dir.path().string();
    }
    if (c.tree == Tree::Hg) fs::create_directory(ws.dir / ".hg");
    if (c.tree == Tree::Svn) fs::create_directory(ws.dir / ".svn");
    const auto expand = [&links](const std::string& text) {
      return text.rfind("{links}", 0) == 0 ? links.path().string() + text.substr(7) : text;
    };
    const std::string path = expand(c.path);
    ws.options.cwd = ws.dir / expand(c.cwd);
    for (const std::string command : {"clean", "rebuild"}) {
      ws.dir.write("app/build/tracked");
      ws.dir.write("app/build/output/object.o");
      if (!c.nested.empty() && !fs::exists(ws.dir / "app/build" / c.nested / ".git")) {
        const fs::path repository = ws.dir / "app/build" / c.nested;
        ws.dir.write("app/build/" + c.nested + "/own.c");
        git(repository, {"init", "-q"});
        git(repository, {"add", "own.c"});
        git(repository, {"commit", "-qm", "own"});
      }
      std::vector<std::string> args{command};
      if (!path.empty()) args.push_back(path);
      const test::RunResult result = ws.quarn(args);
      const std::string label = c.name + ", " + command + "\n" + result.out;
      EXPECT_EQ(result.status, 0) << label;
      if (c.warning.empty()) {
        EXPECT_FALSE(fs::exists(ws.dir / "app/build")) << label;
        EXPECT_FALSE(contains(result.out, "[warning]")) << label;
      } else {
        EXPECT_TRUE(fs::exists(ws.dir / "app/build/output/object.o")) << label;
        EXPECT_EQ(count(result.out, "[warning]"), 1u) << label;
        EXPECT_TRUE(contains(
            result.out, "[warning] Leaving '" + path + "/build' in place: " + c.warning + "\n"))
            << label;
      }
      if (c.tree == Tree::GitTracksRootBuild) {
        EXPECT_TRUE(fs::exists(ws.dir / "build/tracked")) << label;
      }
      // Built where it was cleaned.
      EXPECT_EQ(fs::exists(ws.dir / "app/built"), command == "rebuild") << label;
      fs::remove(ws.dir / "app/built");
    }
  }
}

// quarn removes the folder itself: a program called rm, wherever it lies, is never run, and a
// link is removed as a link, what it points at left alone.
TEST(Clean, TheBuildFolderIsRemovedInProcessAndLinksAreNotFollowed) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", "[ \"$1\" = -p ] && exit 2; touch built");
  const std::string record = "echo \"$0 $*\" >> '" + (ws.dir / "rm-ran").string() + "'";
  fs::remove(ws.tools.dir() / "rm");  // the system's, linked in by the workspace
  ws.tools.add("rm", record);
  const fs::path projectRm = ws.dir.write("app/rm", "#!/bin/sh\n" + record + "\n");
  fs::permissions(projectRm, fs::perms::owner_all);
  // "." first: a build tool run in the project folder would find the project's rm.
  ws.options.env["PATH"] = ".:" + ws.tools.dir().string();
  const fs::path outside = ws.dir.write("outside/file", "kept");
  for (const std::string command : {"clean", "rebuild"}) {
    fs::remove_all(ws.dir / "app/build");  // what a failed run left
    ws.dir.write("app/build/nested/deep/object.o");
    fs::create_directory_symlink(ws.dir / "outside", ws.dir / "app/build/folder-link");
    fs::create_symlink(outside, ws.dir / "app/build/nested/file-link");
    fs::create_symlink("loop", ws.dir / "app/build/loop");
    const test::RunResult result = ws.quarn({command, "app"});
    EXPECT_EQ(result.status, 0) << command << "\n" << result.out;
    EXPECT_FALSE(fs::exists(fs::symlink_status(ws.dir / "app/build"))) << command;
    EXPECT_EQ(test::readFile(outside), "kept") << command;
    EXPECT_FALSE(fs::exists(ws.dir / "rm-ran"))
        << command << ": " << test::readFile(ws.dir / "rm-ran");
  }
}

// Only a folder called build is build output; a file of that name is the project's own.
TEST(Clean, OnlyAFolderCalledBuildGoes) {
  enum class Entry { File, LinkToAFile, LinkToAFolder, LinkToNothing };
  struct Case {
    std::string name;
    Entry entry;
    bool removed;
  };
  const Case cases[] = {
      {"a build script", Entry::File, false},
      {"a link to a build script", Entry::LinkToAFile, false},
      {"a link to a folder", Entry::LinkToAFolder, true},
      {"a dangling link", Entry::LinkToNothing, true},
  };
  for (const Case& c : cases) {
    Workspace ws;
    ws.dir.write("app/CMakeLists.txt");
    const fs::path script = ws.dir.write("scripts/build.sh", "#!/bin/sh\n");
    fs::create_directory(ws.dir / "folder");
    const fs::path build = ws.dir / "app/build";
    switch (c.entry) {
      case Entry::File: ws.dir.write("app/build", "#!/bin/sh\n"); break;
      case Entry::LinkToAFile: fs::create_symlink(script, build); break;
      case Entry::LinkToAFolder: fs::create_directory_symlink(ws.dir / "folder", build); break;
      case Entry::LinkToNothing: fs::create_symlink(ws.dir / "nothing", build); break;
    }
    const test::RunResult result = ws.quarn({"clean", "app"});
    EXPECT_EQ(result.status, 0) << c.name << "\n" << result.out;
    EXPECT_EQ(fs::exists(fs::symlink_status(build)), !c.removed) << c.name << "\n" << result.out;
    EXPECT_EQ(contains(result.out, "[warning] Leaving 'app/build' in place: it is not a folder\n"),
              !c.removed)
        << c.name << "\n"
        << result.out;
    EXPECT_TRUE(fs::exists(script) && fs::exists(ws.dir / "folder")) << c.name;
  }
}

// Mounted at `point` for the life of the object, when the system lets this process mount.
class Mount {
 public:
  Mount(const fs::path& source, const fs::path& point, bool bind) : point_(point) {
    mounted_ = bind ? ::mount(source.c_str(), point.c_str(), nullptr, MS_BIND, nullptr) == 0
                    : ::mount("none", point.c_str(), "tmpfs", 0, nullptr) == 0;
    if (!mounted_) error_ = std::strerror(errno);
  }
  Mount(const Mount&) = delete;
  Mount& operator=(const Mount&) = delete;
  ~Mount() {
    if (mounted_) ::umount2(point_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  fs::path point_;
  bool mounted_ = false;
  std::string error_;
};

// Removal stays on the project's file system: what is mounted inside build is left, with a
// warning, and everything around it goes. A bind mount of a folder of the same file system is
// as much another mount as a tmpfs is.
TEST(Clean, RemovalDoesNotCrossIntoAnotherMount) {
  for (const bool bind : {false, true}) {
    for (const std::string command : {"clean", "rebuild"}) {
      const std::string name = (bind ? "bind mount, " : "tmpfs, ") + command;
      Workspace ws;
      ws.dir.write("app/CMakeLists.txt");
      ws.tools.add("cmake", "true");
      ws.dir.write("app/build/top.o");
      ws.dir.write("app/build/sub/beside.o");
      fs::create_directories(ws.dir / "app/build/sub/mnt");
      fs::create_directories(ws.dir / "source");
      const Mount mount(ws.dir / "source", ws.dir / "app/build/sub/mnt", bind);
      if (!mount.mounted()) GTEST_SKIP() << "cannot mount (" << name << ") here: " << mount.error();
      const fs::path inside = ws.dir.write("app/build/sub/mnt/inside", "kept");
      const test::RunResult result = ws.quarn({command, "app"});
      EXPECT_EQ(result.status, 0) << name << "\n" << result.out;
      EXPECT_EQ(test::readFile(inside), "kept") << name;
      EXPECT_FALSE(fs::exists(ws.dir / "app/build/top.o")) << name;
      EXPECT_FALSE(fs::exists(ws.dir / "app/build/sub/beside.o")) << name;
      EXPECT_TRUE(contains(result.out,
                           "[warning] Leaving 'app/build/sub/mnt' in place: another "
                           "file system is mounted there\n"))
          << name << "\n"
          << result.out;
    }
  }
}

// With the real tools of this machine; a tool that is not installed skips its case.

TEST(CleanRealTools, RebuildReplacesTheCMakeBuildTreeInAndOutOfAGitWorkTree) {
  if (!toolAvailable("cmake")) GTEST_SKIP() << "cmake is not installed here";
  for (const bool inGit : {false, true}) {
    const TempDir dir;
    copyExample("cmake", dir);
    if (inGit) {
      git(dir / "cmake", {"init", "-q"});
      git(dir / "cmake", {"add", "."});
      git(dir / "cmake", {"commit", "-qm", "sources"});
    }
    const fs::path stale = dir.write("cmake/build/stale-file");
    const test::RunResult result = runQuarn({"rebuild", "cmake"}, realToolOptions(dir));
    EXPECT_EQ(result.status, 0) << result.out;
    EXPECT_FALSE(fs::exists(stale)) << (inGit ? "in git" : "outside git");
    EXPECT_TRUE(fs::exists(dir / "cmake/build/hello"));
    EXPECT_FALSE(contains(result.out, "[warning]")) << result.out;
  }
}

TEST(CleanRealTools, CleanRunsCargoCleanOnTarget) {
  if (!toolAvailable("cargo")) GTEST_SKIP() << "cargo is not installed here";
  const TempDir dir;
  copyExample("cargo", dir);
  dir.write("cargo/target/release/hello");
  const test::RunResult result = runQuarn({"clean", "cargo"}, realToolOptions(dir));
  EXPECT_EQ(result.status, 0) << result.out << result.err;
  EXPECT_FALSE(fs::exists(dir / "cargo/target"));
  EXPECT_TRUE(contains(result.out, "[info] ✓ Clean successful (")) << result.out;
}

// Whether make has a clean target is make's to say: the text of a makefile cannot show what its
// conditionals, includes and $(eval) make of it. A rebuild never fails on a target make lacks.
TEST(CleanRealTools, MakeCleanRunsOnlyWhereTheMakefileDefinesIt) {
  if (!toolAvailable("make")) GTEST_SKIP() << "make is not installed here";
  const std::string build = "hello: hello.c\n\t$(CC) -o $@ $<\n";
  const std::string clean = "clean:\n\trm -f hello\n";
  struct Case {
    const char* what;
    std::string makefile;  // empty: the example's own
    bool cleans;
  };
  const Case cases[] = {
      {"the example's clean rule", "", true},
      {"no clean rule", build, false},
      {"a clean rule for another system",
       build + "ifeq ($(OS),Windows_NT)\nclean:\n\tdel /q hello\nendif\n", false},
      {"a variable set for clean", build + "clean: X=1\n", false},
      // Make's data base shows the value as it is, a blank line and a comment after "clean:" too.
      {"a clean rule in a variable's text",
       build + "override define RULE\n\nclean:\n# the old way\n\trm -f hello\nendef\n", false},
      {"a clean rule made by $(eval)", build + "define RULE\n" + clean + "endef\n$(eval $(RULE))\n",
       true},
      {"a clean rule in an included makefile", build + "include rules.mk\n", true},
  };
  for (const Case& c : cases) {
    for (const std::string command : {"clean", "rebuild"}) {
      const TempDir dir;
      copyExample("make", dir);
      if (!c.makefile.empty()) dir.write("make/Makefile", c.makefile);
      dir.write("make/rules.mk", clean);
      dir.write("make/hello");
      const test::RunResult result = runQuarn({command, "make"}, realToolOptions(dir));
      SCOPED_TRACE(command + ", " + c.what + "\n" + result.out);
      EXPECT_EQ(result.status, 0);
      EXPECT_EQ(contains(result.out, "\nrm -f hello\n"), c.cleans);
      if (command == "clean") {
        EXPECT_EQ(fs::exists(dir / "make/hello"), !c.cleans);
        EXPECT_TRUE(contains(
            result.out, c.cleans ? "[info] ✓ Clean successful (" : "[info] ✓ Nothing to clean\n"));
      }
    }
  }
}

// A package whose build script is a tracked file in build/: neither rebuild nor clean may lose it.
TEST(CleanRealTools, ATrackedBuildFolderOfAnNpmPackageSurvives) {
  if (!toolAvailable("npm")) GTEST_SKIP() << "npm is not installed here";
  const TempDir dir;
  dir.write("pkg/package.json", R"({"name": "tracked-build", "version": "1.0.0", "private": true,)"
                                R"( "scripts": {"build": "node build/build.js"}})");
  dir.write("pkg/index.js", "module.exports = 1;\n");
  const fs::path script =
      dir.write("pkg/build/build.js",
                "const fs = require('fs');\nfs.mkdirSync('dist', {recursive: true});\n"
                "fs.copyFileSync('index.js', 'dist/index.js');\n");
  git(dir / "pkg", {"init", "-q"});
  git(dir / "pkg", {"add", "."});
  git(dir / "pkg", {"commit", "-qm", "sources"});
  const std::string warning = "[warning] Leaving 'pkg/build' in place: git tracks files in it\n";
  const test::RunResult rebuild = runQuarn({"rebuild", "pkg"}, realToolOptions(dir));
  EXPECT_EQ(rebuild.status, 0) << rebuild.out << rebuild.err;
  EXPECT_TRUE(contains(rebuild.out, warning)) << rebuild.out;
  EXPECT_TRUE(fs::exists(dir / "pkg/dist/index.js"));
  const test::RunResult clean = runQuarn({"clean", "pkg"}, realToolOptions(dir));
  EXPECT_EQ(clean.status, 0) << clean.out;
  EXPECT_TRUE(contains(clean.out, warning)) << clean.out;
  EXPECT_TRUE(fs::exists(script));
}

}  // namespace
}  // namespace quarn
