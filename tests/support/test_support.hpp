#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace quarn::test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed with its contents at the end.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const fs::path& path() const { return path_; }
  fs::path operator/(const std::string& name) const { return path_ / name; }
  // Writes `content` to the file `name` (parents created) and returns its path.
  fs::path write(const std::string& name, const std::string& content = {}) const;

 private:
  fs::path path_;
};

// A folder of fake build tools: small shell scripts to put first on PATH.
class FakeTools {
 public:
  // Adds an executable script `name` whose body is `script` (run by /bin/sh).
  void add(const std::string& name, const std::string& script) const;
  // Links the system's programs of these names into the folder, so that a PATH of this folder
  // alone still offers them to the scripts.
  void linkSystem(const std::vector<std::string>& names) const;
  const fs::path& dir() const { return dir_.path(); }
  // PATH with this folder alone, followed by `rest` when not empty.
  std::string searchPath(const std::string& rest = "/usr/bin:/bin") const;

 private:
  TempDir dir_;
};

struct RunResult {
  int status = -1;         // exit code, or 128 + signal
  bool signalled = false;  // ended by a signal, not by exiting
  std::string out;
  std::string err;
};

struct RunOptions {
  // Changes to quarn's environment: a value sets the variable, nullopt removes it. By default
  // HOME is a private folder, XDG_DATA_HOME, APPDATA, NO_COLOR and the distcc hosts
  // (QUARN_HOSTS, DISTCC_HOSTS) are removed, and the rest is this process's environment.
  std::map<std::string, std::optional<std::string>> env;
  fs::path cwd;           // empty: this process's working directory
  std::string stdinText;  // fed to standard input
  // Standard output goes to this file instead of being collected ("-" closes it).
  std::string stdoutFile;
  // The child leads a process group of its own, and this runs beside it once it has started.
  std::function<void(int pid)> whileRunning;
  // Signals the child starts with ignored, as a parent that ignores them leaves them.
  std::vector<int> ignoredSignals;
};

// Runs the quarn binary with `args` and collects its output and exit status.
RunResult runQuarn(const std::vector<std::string>& args, const RunOptions& options = {});

// Runs a program found on PATH and returns its status and output (for checks beside quarn).
RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options = {});

// A folder to run quarn in, and fake tools that with a few system programs make up its whole
// PATH, so that no real build tool is found unless a test adds one.
struct Workspace {
  TempDir dir;
  FakeTools tools;
  RunOptions options;

  Workspace();
  RunResult quarn(const std::vector<std::string>& args) const { return runQuarn(args, options); }
};

// Compares `actual` with the golden file `name` byte for byte. On a difference it writes the
// actual text beside the build and returns a failure message with the diff command to see it.
// With QUARN_UPDATE_GOLDEN=1 in the environment it rewrites the golden file instead.
::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual);

// The banner quarn prints first on every run.
std::string banner();

// Returns the text of a file.
std::string readFile(const fs::path& file);

// Returns whether every process whose id is a line of `pidFile` has ended (or is a zombie waiting
// to be reaped) within a few seconds. A killed process may take a moment to go.
bool processEnds(const fs::path& pidFile);

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

}  // namespace quarn::test
