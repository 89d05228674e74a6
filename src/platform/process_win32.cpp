#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/process.hpp"

namespace quarn::platform {

const char* const kCleanCommand = "rmdir /s /q build 2>nul";

namespace {

// The exit code of a console program ended by Ctrl-C.
constexpr DWORD kControlCExit = 0xC000013A;
constexpr int kInterrupted = 130;

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { reset(); }
  HANDLE get() const { return handle_; }
  void reset(HANDLE handle = nullptr) {
    if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    handle_ = handle;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A pipe whose write end a child inherits and whose read end stays with quarn.
struct Pipe {
  Handle read;
  Handle write;
  bool open() {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
    read.reset(readEnd);
    write.reset(writeEnd);
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    return true;
  }
};

// Turns each carriage return and line feed pair into a line feed, as a text-mode read does,
// across the boundaries of reads too.
class TextModeFilter {
 public:
  template <typename Emit>
  void feed(const char* data, std::size_t size, Emit emit) {
    std::string text;
    if (pendingReturn_) text += '\r';
    text.append(data, size);
    pendingReturn_ = !text.empty() && text.back() == '\r';
    if (pendingReturn_) text.pop_back();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += text[i];
    }
    if (!out.empty()) emit(out.data(), out.size());
  }
  template <typename Emit>
  void finish(Emit emit) {
    if (pendingReturn_) emit("\r", 1);
    pendingReturn_ = false;
  }

 private:
  bool pendingReturn_ = false;
};

// Starts the command processor on `command`. Returns false when it cannot be started.
bool startShell(const std::string& command, const std::string& workingDirectory, HANDLE input,
                HANDLE output, DWORD flags, PROCESS_INFORMATION& child) {
  const char* comSpec = std::getenv("ComSpec");
  std::string line = std::string("\"") + (comSpec != nullptr ? comSpec : "cmd.exe") +
                     "\" /d /s /c \"" + command + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  return ::CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, nullptr,
                          workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                          &child) != 0;
}

int exitStatus(HANDLE process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return -1;
  if (code == kControlCExit) return kInterrupted;
  return static_cast<int>(code);
}

// Ctrl-C reaches every program on the console; quarn lets the build end and stays to report it.
BOOL WINAPI keepRunningOnInterrupt(DWORD type) {
  return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT ? TRUE : FALSE;
}

class InterruptsIgnored {
 public:
  InterruptsIgnored() { ::SetConsoleCtrlHandler(keepRunningOnInterrupt, TRUE); }
  InterruptsIgnored(const InterruptsIgnored&) = delete;
  InterruptsIgnored& operator=(const InterruptsIgnored&) = delete;
  ~InterruptsIgnored() { ::SetConsoleCtrlHandler(keepRunningOnInterrupt, FALSE); }
};

}  // namespace

int runShellCommand(const std::string& command, const std::string& workingDirectory,
                    const ByteSink& onStdout) {
  std::fflush(stdout);
  Pipe pipe;
  if (onStdout && !pipe.open()) return -1;
  InterruptsIgnored ignored;
  PROCESS_INFORMATION child{};
  if (!startShell(command, workingDirectory, ::GetStdHandle(STD_INPUT_HANDLE),
                  onStdout ? pipe.write.get() : ::GetStdHandle(STD_OUTPUT_HANDLE), 0, child)) {
    return -1;
  }
  Handle process(child.hProcess);
  Handle thread(child.hThread);
  if (onStdout) {
    pipe.write.reset();
    TextModeFilter filter;
    char buffer[4096];
    DWORD count = 0;
    try {
      while (::ReadFile(pipe.read.get(), buffer, sizeof buffer, &count, nullptr) && count > 0) {
        filter.feed(buffer, count, onStdout);
      }
      filter.finish(onStdout);
    } catch (...) {
      pipe.read.reset();
      ::WaitForSingleObject(process.get(), INFINITE);
      throw;
    }
  }
  ::WaitForSingleObject(process.get(), INFINITE);
  return exitStatus(process.get());
}

CapturedOutput captureShellOutput(const std::string& command, std::chrono::milliseconds timeout,
                                  std::size_t readSize, const EnoughOutput& enough) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  CapturedOutput result;
  std::fflush(stdout);
  Pipe pipe;
  if (!pipe.open()) return result;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  Handle nul(::CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           OPEN_EXISTING, 0, nullptr));
  // A job holds the command and everything it starts, so that all of it can be ended at once.
  Handle job(::CreateJobObjectA(nullptr, nullptr));
  // Should quarn itself be ended, closing its last handle to the job ends the probe too.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  PROCESS_INFORMATION child{};
  if (!startShell(command, "", nul.get(), pipe.write.get(), CREATE_SUSPENDED, child)) return result;
  Handle process(child.hProcess);
  Handle thread(child.hThread);
  ::AssignProcessToJobObject(job.get(), process.get());
  ::ResumeThread(thread.get());
  pipe.write.reset();

  std::mutex mutex;
  std::condition_variable changed;
  bool finished = false;
  bool satisfied = false;
  std::thread reader([&] {
    std::string buffer(readSize > 0 ? readSize : 1, '\0');
    TextModeFilter filter;
    auto append = [&](const char* data, std::size_t size) {
      const std::lock_guard<std::mutex> lock(mutex);
      result.output.append(data, size);
      if (enough && enough(result.output)) satisfied = true;
    };
    DWORD count = 0;
    while (::ReadFile(pipe.read.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                      nullptr) &&
           count > 0) {
      filter.feed(buffer.data(), count, append);
      const std::lock_guard<std::mutex> lock(mutex);
      if (satisfied) break;
    }
    filter.finish(append);
    const std::lock_guard<std::mutex> lock(mutex);
    finished = true;
    changed.notify_all();
  });

  bool inTime = false;
  {
    std::unique_lock<std::mutex> lock(mutex);
    inTime = changed.wait_until(lock, deadline, [&] { return finished; });
  }
  if (inTime && !satisfied) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    inTime = ::WaitForSingleObject(process.get(), static_cast<DWORD>(std::max<long long>(
                                                      0, left.count()))) == WAIT_OBJECT_0;
  }
  // Ending the job closes every writer of the pipe, which lets a waiting reader finish.
  ::TerminateJobObject(job.get(), 1);
  reader.join();
  result.completed = inTime;
  return result;
}

}  // namespace quarn::platform
