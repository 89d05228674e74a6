#include "commands/command_runner.hpp"

#include <iostream>

#include "base/logger.hpp"
#include "platform/process.hpp"

namespace quarn {

namespace {

// Cuts a byte stream into chunks as a line reader with a 256-byte buffer would: a chunk ends
// after a line feed, at kChunkSize bytes, or at the end of the stream.
class Chunker {
 public:
  explicit Chunker(const OutputCallback& emit) : emit_(emit) {}

  void feed(const char* data, size_t size) {
    while (size > 0) {
      const size_t room = CommandRunner::kChunkSize - pending_.size();
      size_t take = 0;
      bool lineEnd = false;
      while (take < size && take < room) {
        if (data[take++] == '\n') {
          lineEnd = true;
          break;
        }
      }
      pending_.append(data, take);
      data += take;
      size -= take;
      if (lineEnd || pending_.size() == CommandRunner::kChunkSize) flush();
    }
  }

  void flush() {
    if (pending_.empty()) return;
    emit_(pending_);
    pending_.clear();
  }

 private:
  const OutputCallback& emit_;
  std::string pending_;
};

}  // namespace

platform::ProcessStatus CommandRunner::run(
    const std::string& command, OutputCallback onOutput, const std::string& workingDirectory,
    const platform::EnvironmentOverrides& environment) const {
  std::cout.flush();
  if (!onOutput) {
    platform::ProcessStatus status =
        platform::runShellCommand(command, workingDirectory, {}, environment);
    if (!status.warning.empty()) Logger::get()->warn(status.warning);
    return status;
  }

  const OutputCallback echoAndHand = [&onOutput](std::string_view chunk) {
    std::cout.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    onOutput(chunk);
  };
  Chunker chunker(echoAndHand);
  platform::ProcessStatus status = platform::runShellCommand(
      command, workingDirectory,
      [&chunker](const char* data, size_t size) { chunker.feed(data, size); }, environment);
  chunker.flush();
  if (!status.warning.empty()) Logger::get()->warn(status.warning);
  return status;
}

}  // namespace quarn
