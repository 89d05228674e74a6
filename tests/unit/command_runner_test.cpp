#include <chrono>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/command_runner.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Captures what is written to std::cout while it lives.
class CapturedCout {
 public:
  CapturedCout() : saved_(std::cout.rdbuf(text_.rdbuf())) {}
  CapturedCout(const CapturedCout&) = delete;
  CapturedCout& operator=(const CapturedCout&) = delete;
  ~CapturedCout() { std::cout.rdbuf(saved_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* saved_;
};

TEST(CommandRunner, ReturnsTheCommandsStatusInShellTerms) {
  struct Case {
    const char* command;
    int status;
  };
  const Case cases[] = {
      {"true", 0},
      {"exit 3", 3},
      {"false", 1},
      {"kill -TERM $$", 128 + 15},
      {"kill -KILL $$", 128 + 9},
      {"no-such-program-for-quarn-tests", 127},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CommandRunner().run(c.command).status, c.status) << c.command;
  }
  // The command processor cannot start in a folder that does not exist.
  const TempDir dir;
  for (const OutputCallback& callback :
       {OutputCallback(), OutputCallback([](std::string_view) {})}) {
    const platform::ProcessStatus missing =
        CommandRunner().run("true", callback, (dir / "missing").string());
    EXPECT_EQ(missing.status, -1);
    EXPECT_EQ(missing.startError, "No such file or directory");
  }
}

TEST(CommandRunner, RunsInTheGivenFolderAndLeavesOursAlone) {
  const TempDir dir;
  const fs::path project = dir / "a folder $(touch pwned) `touch pwned` ;touch pwned";
  fs::create_directory(project);
  const fs::path before = fs::current_path();
  EXPECT_EQ(CommandRunner().run("pwd > where.txt", {}, project.string()).status, 0);
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(test::readFile(project / "where.txt"), project.string() + "\n");
  EXPECT_FALSE(fs::exists(before / "pwned"));
  EXPECT_FALSE(fs::exists(project / "pwned"));
}

TEST(CommandRunner, CallbackReceivesLineChunksAndEchoMatchesOutputByteForByte) {
  struct Case {
    const char* command;
    std::vector<std::string> chunks;
  };
  const Case cases[] = {
      {"true", {}},
      {"printf 'one\\ntwo\\n'", {"one\n", "two\n"}},
      {"printf 'last without line feed'", {"last without line feed"}},
      {"printf '%300s\\n' '' | tr ' ' x", {std::string(255, 'x'), std::string(45, 'x') + "\n"}},
      {"printf '%255s' '' | tr ' ' y", {std::string(255, 'y')}},
      {"printf 'a\\000b\\nc\\000'", {std::string("a\0b\n", 4), std::string("c\0", 2)}},
      {"echo first; sleep 0.2; echo second", {"first\n", "second\n"}},
      {"echo to-stderr >&2; exit 4", {}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> chunks;
    CapturedCout cout;
    CommandRunner().run(c.command,
                        [&chunks](std::string_view chunk) { chunks.emplace_back(chunk); });
    EXPECT_EQ(chunks, c.chunks) << c.command;
    std::string joined;
    for (const std::string& chunk : c.chunks) joined += chunk;
    EXPECT_EQ(cout.text(), joined) << c.command;
  }
}

TEST(CommandRunner, ACallbackThatThrowsLeavesNoChildBehind) {
  EXPECT_THROW(
      CommandRunner().run("yes", [](std::string_view) { throw std::runtime_error("stop"); }),
      std::runtime_error);
}

TEST(BuildTimer, TruncatesToWholeSeconds) {
  using std::chrono::milliseconds;
  const auto start = std::chrono::steady_clock::now();
  const std::pair<milliseconds, std::int64_t> cases[] = {
      {milliseconds(0), 0},    {milliseconds(999), 0},    {milliseconds(1000), 1},
      {milliseconds(1700), 1}, {milliseconds(61900), 61}, {milliseconds(-1500), -1},
  };
  for (const auto& [span, seconds] : cases) {
    EXPECT_EQ(elapsedWholeSeconds(start, start + span), seconds) << span.count();
  }
}

}  // namespace
}  // namespace quarn
