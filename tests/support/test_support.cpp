#include "support/test_support.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace quarn::test {

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "quarn-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code error;
  // Tests take permissions away; give them back so that everything can be removed.
  for (auto it = fs::recursive_directory_iterator(
           path_, fs::directory_options::skip_permission_denied, error);
       !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
    }
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(path_, error);
}

fs::path TempDir::write(const std::string& name, const std::string& content) const {
  fs::path file = path_ / name;
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

void FakeTools::add(const std::string& name, const std::string& script) const {
  const fs::path file = dir_.write(name, "#!/bin/sh\n" + script + "\n");
  fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec);
}

void FakeTools::linkSystem(const std::vector<std::string>& names) const {
  for (const std::string& name : names) {
    for (const char* dir : {"/usr/bin/", "/bin/"}) {
      if (fs::exists(dir + name)) {
        fs::create_symlink(dir + name, dir_.path() / name);
        break;
      }
    }
  }
}

std::string FakeTools::searchPath(const std::string& rest) const {
  return rest.empty() ? dir_.path().string() : dir_.path().string() + ":" + rest;
}

namespace {

std::vector<std::string> buildEnvironment(const RunOptions& options, const std::string& home) {
  std::map<std::string, std::optional<std::string>> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    const size_t equals = text.find('=');
    if (equals != std::string::npos) env[text.substr(0, equals)] = text.substr(equals + 1);
  }
  env["HOME"] = home;
  env.erase("XDG_DATA_HOME");
  env.erase("APPDATA");
  env.erase("NO_COLOR");
  env.erase("QUARN_HOSTS");
  env.erase("DISTCC_HOSTS");
  for (const auto& [name, value] : options.env) env[name] = value;
  std::vector<std::string> result;
  for (const auto& [name, value] : env) {
    if (value) result.push_back(name + "=" + *value);
  }
  return result;
}

// Reads both pipes to their end, writing `input` to the child's standard input first.
void collect(int outFd, int errFd, int inFd, const std::string& input, RunResult& result) {
  size_t written = 0;
  if (input.empty()) {
    ::close(inFd);
    inFd = -1;
  }
  int open = 2;
  while (open > 0 || inFd >= 0) {
    pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {inFd, POLLOUT, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t count = ::read(fds[i].fd, buffer, sizeof buffer);
      if (count > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(count));
      } else if (count == 0 || errno != EINTR) {
        ::close(fds[i].fd);
        (i == 0 ? outFd : errFd) = -1;
        --open;
      }
    }
    if (inFd >= 0 && fds[2].revents != 0) {
      const ssize_t count = ::write(inFd, input.data() + written, input.size() - written);
      if (count > 0) written += static_cast<size_t>(count);
      if (count < 0 || written == input.size()) {
        ::close(inFd);
        inFd = -1;
      }
    }
  }
}

RunResult spawnAndCollect(const std::string& program, const std::vector<std::string>& argv,
                          const RunOptions& options, bool searchPath) {
  TempDir home;
  const std::vector<std::string> envText = buildEnvironment(options, home.path().string());
  std::vector<char*> envp;
  envp.reserve(envText.size() + 1);
  for (const std::string& entry : envText) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  int out[2], err[2], in[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(in, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    if (options.stdoutFile == "-") {
      ::close(1);
    } else if (!options.stdoutFile.empty()) {
      const int fd = ::open(options.stdoutFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      if (fd < 0) ::_exit(126);
      ::dup2(fd, 1);
    }
    if (options.whileRunning) ::setpgid(0, 0);
    if (!options.cwd.empty() && ::chdir(options.cwd.c_str()) != 0) ::_exit(126);
    ::signal(SIGPIPE, SIG_DFL);
    for (const int ignored : options.ignoredSignals) ::signal(ignored, SIG_IGN);
    if (searchPath) {
      // Look the program up on the PATH the child is given, as a shell would.
      for (char* entry : envp) {
        if (entry != nullptr && std::strncmp(entry, "PATH=", 5) == 0)
          ::setenv("PATH", entry + 5, 1);
      }
      ::execvpe(program.c_str(), args.data(), envp.data());
    } else {
      ::execve(program.c_str(), args.data(), envp.data());
    }
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  RunResult result;
  std::thread beside;
  if (options.whileRunning) {
    ::setpgid(pid, pid);  // also here, so that the group exists before the callback signals it
    beside = std::thread(options.whileRunning, static_cast<int>(pid));
  }
  collect(out[0], err[0], in[1], options.stdinText, result);
  if (beside.joinable()) beside.join();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.signalled = WIFSIGNALED(status);
  return result;
}

}  // namespace

RunResult runQuarn(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{QUARN_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return spawnAndCollect(QUARN_BINARY, argv, options, false);
}

RunResult runProgram(const std::vector<std::string>& argv, const RunOptions& options) {
  return spawnAndCollect(argv.at(0), argv, options, true);
}

Workspace::Workspace() {
  tools.linkSystem({"rm", "sleep", "touch", "cat", "mv", "head", "tr", "yes", "bash", "script"});
  options.cwd = dir.path();
  options.env = {{"PATH", tools.dir().string()}};
}

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

::testing::AssertionResult matchesGolden(const std::string& name, const std::string& actual) {
  const fs::path golden = fs::path(QUARN_GOLDEN_DIR) / (name + ".out");
  const char* update = std::getenv("QUARN_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(golden, std::ios::binary) << actual;
    return ::testing::AssertionSuccess();
  }
  if (fs::exists(golden) && readFile(golden) == actual) return ::testing::AssertionSuccess();
  const fs::path actualFile = fs::path(QUARN_ACTUAL_DIR) / (name + ".out");
  fs::create_directories(actualFile.parent_path());
  std::ofstream(actualFile, std::ios::binary) << actual;
  return ::testing::AssertionFailure()
         << "output differs from " << golden << "\n  see: diff -u " << golden << " " << actualFile
         << "\n  accept: QUARN_UPDATE_GOLDEN=1 ctest\n--- actual ---\n"
         << actual;
}

std::string banner() {
  return "      Quarn - Universal Build System    \n"
         "             v1.0.0                     \n";
}

bool processEnds(const fs::path& pidFile) {
  std::istringstream ids(readFile(pidFile));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (std::string id; std::getline(ids, id);) {
    const fs::path stat = "/proc/" + id + "/stat";
    for (;;) {
      const std::string state = readFile(stat);
      if (state.empty() || state.find(") Z ") != std::string::npos) break;
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* current = std::getenv(name_.c_str())) saved_ = current;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (saved_) {
    ::setenv(name_.c_str(), saved_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

}  // namespace quarn::test
