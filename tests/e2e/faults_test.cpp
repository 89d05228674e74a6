// Bad input and faults, end to end: each ends with a clear message and a status, never a crash,
// a hang or a lost file.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::FakeTools;
using test::RunOptions;
using test::runQuarn;
using test::TempDir;
using test::Workspace;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Runs quarn as the unprivileged user "nobody" when this process is root (permissions do not bite
// root), else as this user. Sets `skipped` when that cannot be done here.
test::RunResult runUnprivileged(const std::vector<std::string>& args, const RunOptions& options,
                                bool& skipped) {
  skipped = false;
  if (::geteuid() != 0) return runQuarn(args, options);
  std::vector<std::string> argv{"setpriv",        "--reuid=65534", "--regid=65534",
                                "--clear-groups", QUARN_BINARY,    "help"};
  test::RunResult probe = test::runProgram(argv, options);
  if (probe.status != 0) {
    skipped = true;
    return probe;
  }
  argv.pop_back();
  argv.insert(argv.end(), args.begin(), args.end());
  return test::runProgram(argv, options);
}

// A folder that the unprivileged user can enter, with a data folder it may write to.
struct OpenWorkspace {
  TempDir dir;
  RunOptions options;
  OpenWorkspace() {
    fs::permissions(dir.path(), fs::perms::all);
    fs::create_directory(dir / "data");
    fs::permissions(dir / "data", fs::perms::all);
    options.cwd = dir.path();
    options.env = {{"XDG_DATA_HOME", (dir / "data").string()}, {"HOME", (dir / "data").string()}};
  }
};

TEST(Faults, RefusedFoldersAreErrorsNamingThePath) {
  OpenWorkspace ws;
  fs::create_directory(ws.dir / "unlistable");
  ws.dir.write("unlistable/Makefile");
  fs::permissions(ws.dir / "unlistable",
                  fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  fs::create_directory(ws.dir / "closed");
  fs::permissions(ws.dir / "closed", fs::perms::owner_all);
  struct Case {
    std::string folder, message;
  };
  const Case cases[] = {
      {"unlistable",
       "[error] filesystem error: directory_iterator::directory_iterator: Permission denied "
       "[unlistable]\n"},
      {"closed", "[error] filesystem error: exists: Permission denied [closed/.csproj]\n"},
  };
  for (const Case& c : cases) {
    for (const std::string command : {"detect", "build"}) {
      bool skipped = false;
      const test::RunResult result = runUnprivileged({command, c.folder}, ws.options, skipped);
      if (skipped) GTEST_SKIP() << "cannot run quarn as an unprivileged user here: " << result.err;
      EXPECT_EQ(result.status, 1) << command << " " << c.folder;
      EXPECT_EQ(result.out, test::banner() + c.message) << command;
    }
  }
}

TEST(Faults, AnUnwritableDataFolderIsAWarning) {
  OpenWorkspace ws;
  fs::create_directory(ws.dir / "readonly");
  fs::permissions(ws.dir / "readonly", fs::perms::owner_all | fs::perms::group_read |
                                           fs::perms::group_exec | fs::perms::others_read |
                                           fs::perms::others_exec);
  ws.dir.write("app/Makefile");
  fs::permissions(ws.dir / "app", fs::perms::all);
  ws.options.env = {{"APPDATA", (ws.dir / "readonly").string()}};
  bool skipped = false;
  const test::RunResult result = runUnprivileged({"detect", "app"}, ws.options, skipped);
  if (skipped) GTEST_SKIP() << "cannot run quarn as an unprivileged user here";
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out.rfind("[warning] Could not create data directory '" +
                                 (ws.dir / "readonly/Quarn").string() + "': Permission denied\n" +
                                 test::banner(),
                             0),
            0u)
      << result.out;
}

TEST(Faults, DataFolderVariablesPointingIntoAFile) {
  const TempDir dir;
  const fs::path file = dir.write("file");
  const std::pair<std::string, std::string> cases[] = {
      {"HOME", file.string() + "/.local/share/Quarn"},
      {"XDG_DATA_HOME", file.string() + "/Quarn"},
      {"APPDATA", file.string() + "/Quarn"},
  };
  for (const auto& [variable, path] : cases) {
    RunOptions options;
    options.env = {{variable, file.string()}};
    const test::RunResult result = runQuarn({"help"}, options);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.rfind(
                  "[warning] Could not create data directory '" + path + "': Not a directory\n", 0),
              0u)
        << result.out;
  }
}

TEST(Faults, PathsTheSystemCannotTakeAreErrors) {
  const std::string tooDeep = [] {
    std::string path;
    for (int i = 0; i < 2100; ++i) path += "d/";
    return path;
  }();
  for (const std::string& path : {tooDeep, std::string(300, 'n')}) {
    const test::RunResult result = runQuarn({"detect", path});
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.out, "[error] filesystem error: exists: File name too long ["))
        << result.out.substr(0, 300);
  }
}

TEST(Faults, NamesThatAreNotUtf8PassAsBytes) {
  const TempDir dir;
  const std::string folder = "proj-\xff\xfe";
  dir.write(folder + "/Makefile");
  dir.write("dotnet/\xff\xfe.CSPROJ");
  RunOptions options;
  options.cwd = dir.path();
  const test::RunResult info = runQuarn({"info", folder}, options);
  EXPECT_EQ(info.status, 0);
  EXPECT_TRUE(contains(info.out, "[info] Project: " + folder + "\n[info] Type: C (Make)\n"))
      << info.out;
  const test::RunResult detect = runQuarn({"detect", "dotnet"}, options);
  EXPECT_TRUE(contains(detect.out, "[info] Project Type: C# (.NET)\n")) << detect.out;
}

// The 200,000-entry folder is bench/run's; a few thousand entries prove the same here.
TEST(Faults, AFolderOfManyEntries) {
  const TempDir dir;
  fs::create_directory(dir / "huge");
  const std::string base = (dir / "huge/entry-").string();
  for (int i = 0; i < 5000; ++i) {
    const int fd = ::open((base + std::to_string(i)).c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  RunOptions options;
  options.cwd = dir.path();
  const test::RunResult unknown = runQuarn({"detect", "huge"}, options);
  EXPECT_EQ(unknown.status, 1);
  EXPECT_EQ(unknown.out, test::banner() + "[warning] Unknown project type\n");
  dir.write("huge/Old.sln.bak");
  EXPECT_EQ(runQuarn({"detect", "huge"}, options).status, 0);
}

TEST(Faults, AMarkerThatIsAFifoOrSocketCountsAndIsNeverOpened) {
  Workspace ws;
  fs::create_directory(ws.dir / "app");
  ASSERT_EQ(::mkfifo((ws.dir / "app/Makefile").c_str(), 0644), 0);
  fs::create_directory(ws.dir / "sock");
  // A socket bound in the folder, the marker's name its path.
  const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = (ws.dir / "sock/package.json").string();
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ws.tools.add("make", "echo built");
  ws.tools.add("npm", "echo built");
  const test::RunResult detect = ws.quarn({"detect", "app"});
  EXPECT_TRUE(contains(detect.out, "[info] Project Type: C (Make)\n")) << detect.out;
  const test::RunResult build = ws.quarn({"build", "app"});
  EXPECT_EQ(build.status, 0);
  EXPECT_TRUE(
      contains(ws.quarn({"detect", "sock"}).out, "[info] Project Type: JavaScript (npm)\n"));
  ::close(socketFd);
}

TEST(Faults, StandardOutputThatCannotBeWritten) {
  for (const std::string target : {"-", "/dev/full"}) {
    RunOptions options;
    options.stdoutFile = target;
    const test::RunResult result = runQuarn({"help"}, options);
    EXPECT_EQ(result.status, 1) << target;
    EXPECT_EQ(result.err, "quarn: error writing standard output\n") << target;
  }
}

TEST(Faults, AReaderThatLeavesEarlyEndsQuarnOnlyBySigpipe) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", "i=0; while [ $i -lt 20000 ]; do echo line $i; i=$((i+1)); done");
  for (const std::string command : {"help", "build app"}) {
    const test::RunResult result =
        test::runProgram({"bash", "-c",
                          std::string(QUARN_BINARY) + " " + command +
                              " | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}"},
                         ws.options);
    const int status = std::stoi(result.out);
    EXPECT_TRUE(status == 0 || status == 141 || status == 1) << command << ": " << status;
  }
}

TEST(Faults, ABuildThatPrints50MegabytesPassesEveryByte) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  ws.tools.add("make", "head -c 50000000 /dev/zero | tr '\\000' x");
  const test::RunResult result = ws.quarn({"build", "app"});
  EXPECT_EQ(result.status, 0);
  const size_t start = result.out.find("[info] Building with: make\n\n") + 28;
  EXPECT_EQ(result.out.find_first_not_of('x', start), start + 50000000);
  EXPECT_TRUE(contains(result.out.substr(start + 50000000), "\n[info] ✓ Build successful ("));
}

// A fake tool that records its process id in `pidFile`, then sleeps as that same process.
std::string recordPidThenSleep(const fs::path& pidFile) {
  const std::string file = "'" + pidFile.string() + "'";
  return "echo $$ > " + file + ".tmp; mv " + file + ".tmp " + file + "; exec sleep 60";
}

// Sends Ctrl-C's signal to quarn's process group, as a terminal does, once `pidFile` is there.
std::function<void(int)> interruptOnceStarted(const fs::path& pidFile) {
  return [pidFile](int group) {
    for (int i = 0; i < 1000 && !fs::exists(pidFile); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(-group, SIGINT);
  };
}

TEST(Faults, CtrlCDuringABuildEndsItWithStatus130AndLeavesNoChild) {
  Workspace ws;
  ws.dir.write("app/Makefile");
  const fs::path started = ws.dir / "started";
  ws.tools.add("make", recordPidThenSleep(started));
  ws.options.whileRunning = interruptOnceStarted(started);
  const auto begin = std::chrono::steady_clock::now();
  const test::RunResult result = ws.quarn({"build", "app"});
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  EXPECT_EQ(result.status, 130);
  EXPECT_TRUE(contains(result.out, "\n[error] ✗ Build failed (")) << result.out;
  EXPECT_TRUE(test::processEnds(started)) << "the build's child is still running";
}

// The probe runs in a process group of its own, out of the terminal's reach; quarn ends it.
TEST(Faults, CtrlCDuringAVersionProbeLeavesNoProbeRunning) {
  Workspace ws;
  ws.dir.write("app/pom.xml");
  const fs::path started = ws.dir / "started";
  ws.tools.add("mvn", recordPidThenSleep(started));
  ws.options.whileRunning = interruptOnceStarted(started);
  const test::RunResult result = ws.quarn({"validate", "app"});
  EXPECT_EQ(result.status, 128 + SIGINT);
  EXPECT_TRUE(test::processEnds(started)) << "the version command is still running";
}

TEST(Faults, VersionCommandsThatFloodTheirOutput) {
  Workspace ws;
  ws.dir.write("app/CMakeLists.txt");
  ws.tools.add("cmake", "yes 'cmake version flood'");
  const test::RunResult lines = ws.quarn({"validate", "app"});
  EXPECT_EQ(lines.status, 0);
  EXPECT_TRUE(contains(lines.out, "[info] Version: cmake version flood\n\n")) << lines.out;
  ws.tools.add("cmake", "tr '\\000' v < /dev/zero");
  const test::RunResult noLineFeed = ws.quarn({"validate", "app"});
  EXPECT_EQ(noLineFeed.status, 0);
  EXPECT_TRUE(
      contains(noLineFeed.out, "[info] Version: " + std::string(size_t{64} * 1024, 'v') + "\n\n"));
}

// Relative and empty PATH entries are taken from the project folder, where the build's shell
// takes them, so that validate shows the very program that build runs.
TEST(Faults, SearchPathUnsetEmptyRelativeOrMissing) {
  const TempDir dir;
  dir.write("app/Makefile");
  for (const std::string where : {"app", "app/tools", "tools", "."}) {
    const fs::path make = dir.write(where + "/make", "#!/bin/sh\necho 'make in " + where + "'\n");
    fs::permissions(make, fs::perms::owner_all);
  }
  struct Case {
    std::optional<std::string> path;
    std::string version;  // empty: missing
  };
  const Case cases[] = {
      {std::nullopt, "GNU Make"},  // the system's default path
      {"", "make in app"},         // an empty PATH is the project folder
      {"tools", "make in app/tools"},
      {"/no/such/folder:tools", "make in app/tools"},
      {"/no/such/folder", ""},
  };
  for (const Case& c : cases) {
    if (!c.path && !fs::exists("/usr/bin/make") && !fs::exists("/bin/make")) continue;
    RunOptions options;
    options.cwd = dir.path();
    options.env = {{"PATH", c.path}};
    const test::RunResult result = runQuarn({"validate", "app"}, options);
    if (c.version.empty()) {
      EXPECT_EQ(result.status, 1);
      EXPECT_TRUE(contains(result.out, "[error] ✗ Build tool 'make' is missing")) << result.out;
      continue;
    }
    EXPECT_EQ(result.status, 0) << c.path.value_or("<unset>") << result.out;
    EXPECT_TRUE(contains(result.out, "[info] Version: " + c.version)) << result.out;
    if (!c.path) continue;
    const test::RunResult build = runQuarn({"build", "app"}, options);
    EXPECT_TRUE(contains(build.out, "\n" + c.version + "\n")) << build.out;
  }
}

}  // namespace
}  // namespace quarn
