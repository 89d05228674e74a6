#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/environment.hpp"
#include "platform/process.hpp"
#include "platform/signals.hpp"
#include "platform/system_win32.hpp"

namespace quarn::platform {

namespace {

// The exit code of a console program ended by Ctrl-C.
constexpr DWORD kControlCExit = 0xC000013A;
constexpr int kInterrupted = 130;

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
    return ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0) != 0;
  }
};

// A job that holds a child and everything it starts, so that all of it can be ended at once.
// Until released, closing the job (as happens when quarn ends, however it ends) ends them all.
class Job {
 public:
  Job() : job_(::CreateJobObjectW(nullptr, nullptr)) { setKillOnClose(true); }
  bool ready() const { return error_ == 0; }
  DWORD error() const { return error_; }
  HANDLE get() const { return job_.get(); }
  // What the child left running once it ended by itself (a build's daemon) outlives quarn, as
  // on POSIX.
  void release() { setKillOnClose(false); }

 private:
  void setKillOnClose(bool kill) {
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = kill ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0;
    if (!job_.valid() || !::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation,
                                                    &limits, sizeof limits)) {
      error_ = ::GetLastError();
    }
  }

  Handle job_;
  DWORD error_ = 0;
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

// The name of an environment entry: up to the first '=' after the first character, since the
// entries that keep each drive's current folder begin with one ("=C:=C:\work").
std::wstring_view entryName(std::wstring_view entry) {
  return entry.substr(0, entry.find(L'=', 1));
}

bool sameName(std::wstring_view a, std::wstring_view b) {
  return ::CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// quarn's environment with `overrides` set on top, as the block CreateProcess takes: sorted by
// name without regard to case, each entry ended by a NUL and the block by another. Wide, so
// that entries the ANSI code page cannot spell (a PATH through a user's folder) pass unchanged.
std::wstring environmentBlock(const EnvironmentOverrides& overrides) {
  std::vector<std::wstring> entries;
  if (wchar_t* current = ::GetEnvironmentStringsW()) {
    for (const wchar_t* entry = current; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      entries.emplace_back(entry);
    }
    ::FreeEnvironmentStringsW(current);
  }
  for (const auto& [name, value] : overrides) {
    const std::wstring wideName = toWide(name);
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&wideName](const std::wstring& entry) {
                                   return sameName(entryName(entry), wideName);
                                 }),
                  entries.end());
    entries.push_back(wideName + L"=" + toWide(value));
  }
  std::stable_sort(
      entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        const std::wstring_view left = entryName(a);
        const std::wstring_view right = entryName(b);
        return ::CompareStringOrdinal(left.data(), static_cast<int>(left.size()), right.data(),
                                      static_cast<int>(right.size()), TRUE) == CSTR_LESS_THAN;
      });
  std::wstring block;
  for (const std::wstring& entry : entries) {
    block += entry;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

// `argument` as the C runtime's parser (and CommandLineToArgvW) reads back one argument: quoted
// when it holds blanks or quotes or is empty, with the backslashes before a quote doubled.
std::string quoteForRuntime(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string quoted = "\"";
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, '\\');
  quoted += '"';
  return quoted;
}

std::string commandProcessor() {
  const std::optional<std::string> comSpec = environmentVariable("ComSpec");
  return comSpec && !comSpec->empty() ? *comSpec : "cmd.exe";
}

// The command line that has the command processor run `command`. With /s it takes what lies
// between the outer quotes as it is; /d skips AutoRun commands and /v:off keeps '!' literal,
// whatever the registry says.
std::string shellLine(const std::string& command) {
  return "\"" + commandProcessor() + "\" /d /v:off /s /c \"" + command + "\"";
}

struct Started {
  Handle process;
  Handle thread;
  DWORD error = 0;  // why the child could not start, when process is not valid
};

// `path` as CreateProcess takes a program (`limit` MAX_PATH - 1) or a working folder (MAX_PATH - 2:
// the folder is kept with a closing backslash). It refuses longer ones whatever the system's long
// path setting says, and the \\?\ form, so a longer path is given by its short (8.3) name, where
// the volume keeps one. False, with `error` set, when there is none short enough.
bool startablePath(const std::string& path, std::size_t limit, std::wstring& startable,
                   DWORD& error) {
  startable = toWide(path);
  std::wstring full = fullPath(startable);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  if (full.size() <= limit) return true;
  const std::wstring prefixed = systemPath(path);
  std::wstring shortened(prefixed.size() + 1, L'\0');
  const DWORD size =
      ::GetShortPathNameW(prefixed.c_str(), shortened.data(), static_cast<DWORD>(shortened.size()));
  if (size == 0) {
    error = ::GetLastError();
    return false;
  }
  shortened.resize(size < shortened.size() ? size : 0);
  static constexpr std::wstring_view kUnc = L"\\\\?\\UNC\\";
  static constexpr std::wstring_view kLocal = L"\\\\?\\";
  if (shortened.compare(0, kUnc.size(), kUnc) == 0) {
    shortened.replace(0, kUnc.size(), L"\\\\");
  } else if (shortened.compare(0, kLocal.size(), kLocal) == 0) {
    shortened.erase(0, kLocal.size());
  }
  if (shortened.empty() || shortened.size() > limit) {
    error = ERROR_FILENAME_EXCED_RANGE;
    return false;
  }
  startable = std::move(shortened);
  return true;
}

// Starts `commandLine` (of `program`, or of the program it names when empty) in `job`, with
// `standard` as its input, output and error. It is held until it is in the job, so that nothing
// it starts can escape.
void start(Started& child, const std::string& program, const std::string& commandLine,
           const std::string& workingDirectory, const HANDLE (&standard)[3], const Job& job,
           std::wstring* environment) {
  std::wstring application;
  std::wstring folder;
  if ((!program.empty() && !startablePath(program, MAX_PATH - 1, application, child.error)) ||
      (!workingDirectory.empty() &&
       !startablePath(workingDirectory, MAX_PATH - 2, folder, child.error))) {
    return;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = standard[0];
  startup.hStdOutput = standard[1];
  startup.hStdError = standard[2];
  const DWORD flags = CREATE_SUSPENDED | (environment != nullptr ? CREATE_UNICODE_ENVIRONMENT : 0);
  std::wstring line = toWide(commandLine);  // CreateProcessW may write to it
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), line.data(), nullptr,
                        nullptr, TRUE, flags,
                        environment != nullptr ? environment->data() : nullptr,
                        folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
    child.error = ::GetLastError();
    return;
  }
  child.process.reset(info.hProcess);
  child.thread.reset(info.hThread);
  // Outside the job nothing would end it with quarn: it does not run at all.
  if (!::AssignProcessToJobObject(job.get(), info.hProcess) ||
      ::ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
    child.error = ::GetLastError();
    ::TerminateProcess(info.hProcess, 1);
    child.process.reset();
    child.thread.reset();
  }
}

int exitStatus(HANDLE process) {
  DWORD code = 0;
  if (!::GetExitCodeProcess(process, &code)) return -1;
  if (code == kControlCExit) return kInterrupted;
  return static_cast<int>(code);
}

CapturedOutput captureOutput(const std::string& program, const std::string& commandLine,
                             const std::string& workingDirectory, bool keepStderr,
                             std::chrono::milliseconds timeout, std::size_t readSize,
                             const EnoughOutput& enough) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  CapturedOutput result;
  std::fflush(stdout);
  Pipe pipe;
  if (!pipe.open()) return result;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const Handle nul(::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0,
                                 nullptr));
  const Job job;
  if (!nul.valid() || !job.ready()) return result;
  Started child;
  const HANDLE standard[3] = {nul.get(), pipe.write.get(),
                              keepStderr ? pipe.write.get() : nul.get()};
  start(child, program, commandLine, workingDirectory, standard, job, nullptr);
  if (!child.process.valid()) return result;
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
  bool ended = false;
  if (inTime && !satisfied) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    ended = ::WaitForSingleObject(child.process.get(), static_cast<DWORD>(std::max<long long>(
                                                           0, left.count()))) == WAIT_OBJECT_0;
    inTime = ended;
  }
  // Ending the job closes every writer of the pipe, which lets a waiting reader finish.
  ::TerminateJobObject(job.get(), 1);
  reader.join();
  result.completed = inTime;
  if (ended) result.status = exitStatus(child.process.get());
  return result;
}

}  // namespace

ProcessStatus runShellCommand(const std::string& command, const std::string& workingDirectory,
                              const ByteSink& onStdout, const EnvironmentOverrides& environment) {
  ProcessStatus result;
  // Whatever quarn has buffered must reach the console before the child writes to it.
  std::fflush(stdout);
  Job job;
  if (!job.ready()) {
    result.startError = systemMessage(job.error());
    return result;
  }
  Pipe pipe;
  if (onStdout && !pipe.open()) {
    result.startError = systemMessage(::GetLastError());
    return result;
  }
  std::wstring block;
  if (!environment.empty()) block = environmentBlock(environment);
  const StopSignalScope stopSignals;
  Started child;
  const HANDLE standard[3] = {::GetStdHandle(STD_INPUT_HANDLE),
                              onStdout ? pipe.write.get() : ::GetStdHandle(STD_OUTPUT_HANDLE),
                              ::GetStdHandle(STD_ERROR_HANDLE)};
  start(child, {}, shellLine(command), workingDirectory, standard, job,
        environment.empty() ? nullptr : &block);
  if (!child.process.valid()) {
    result.startError = systemMessage(child.error);
    return result;
  }
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
      // A child writing to a closed pipe need not end: the whole job is ended instead.
      ::TerminateJobObject(job.get(), 1);
      ::WaitForSingleObject(child.process.get(), INFINITE);
      throw;
    }
  }
  ::WaitForSingleObject(child.process.get(), INFINITE);
  result.status = exitStatus(child.process.get());
  // The console delivers Ctrl-C to the build and to quarn's handler thread at once; a build it
  // ended may be seen first. Give the handler a moment, so that quarn ends as the Ctrl-C asks.
  for (int waited = 0; result.status == kInterrupted && stopSignal() == 0 && waited < 250;
       waited += 10) {
    ::Sleep(10);
  }
  job.release();
  return result;
}

std::string quoteArgument(std::string_view argument) {
  // Every quote is escaped too, so the command processor never takes the text as quoted and
  // removes each of these carets before the program reads its arguments. Variables are expanded
  // before carets are removed: a caret before each '%' puts one in every name between two of
  // them, which no variable has; one before each ':' does the same for "%name:~0,3%".
  const std::string_view special = argument.find('%') == std::string_view::npos
                                       ? std::string_view("()%!^\"<>&|")
                                       : std::string_view("()%!^\"<>&|:");
  std::string escaped;
  for (const char c : quoteForRuntime(argument)) {
    if (special.find(c) != std::string_view::npos) escaped += '^';
    escaped += c;
  }
  return escaped;
}

CapturedOutput captureShellOutput(const std::string& command, const std::string& workingDirectory,
                                  std::chrono::milliseconds timeout, std::size_t readSize,
                                  const EnoughOutput& enough) {
  return captureOutput({}, shellLine(command + " 2>&1"), workingDirectory, true, timeout, readSize,
                       enough);
}

CapturedOutput captureProgramOutput(const std::vector<std::string>& argv,
                                    const std::string& workingDirectory,
                                    std::chrono::milliseconds timeout) {
  if (argv.empty()) return {};
  std::string line;
  for (const std::string& argument : argv) {
    if (!line.empty()) line += ' ';
    line += quoteForRuntime(argument);
  }
  // A relative path is taken from the folder the program runs in, as it is on POSIX.
  std::filesystem::path program(toWide(argv[0]));
  if (program.is_relative() && !workingDirectory.empty()) {
    program = std::filesystem::path(toWide(workingDirectory)) / program;
  }
  return captureOutput(toUtf8(program.native()), line, workingDirectory, false, timeout, 4096, {});
}

}  // namespace quarn::platform
