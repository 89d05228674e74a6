#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::RunOptions;
using test::runQuarn;
using test::TempDir;

std::string usage() {
  return test::readFile(fs::path(QUARN_GOLDEN_DIR) / "help.out").substr(test::banner().size());
}

TEST(Cli, HelpInEveryFormPrintsBannerAndUsage) {
  const std::vector<std::vector<std::string>> forms = {
      {}, {"help"}, {"--help"}, {"-h"}, {"help", "some/path", "more", "args"}};
  for (const auto& args : forms) {
    const test::RunResult result = runQuarn(args);
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(test::matchesGolden("help", result.out)) << ::testing::PrintToString(args);
    EXPECT_EQ(result.err, "");
  }
}

TEST(Cli, UnknownWordsAreReportedWithUsageAndStatusTwo) {
  EXPECT_TRUE(test::matchesGolden("unknown-command", runQuarn({"compile"}).out));
  for (const std::string word : {"compile", "Build", "HELP", "-H", "--Help", " build", "build ", "",
                                 "{}", "{0} %s", "détecter", "--dry-run", "-j"}) {
    const test::RunResult result = runQuarn({word, "."});
    EXPECT_EQ(result.status, 2) << word;
    EXPECT_EQ(result.out, test::banner() + "[error] Unknown command: " + word + "\n" + usage())
        << word;
  }
}

TEST(Cli, ExtraArgumentsAfterThePathAreIgnored) {
  const TempDir dir;
  dir.write("app/Makefile");
  RunOptions options;
  options.cwd = dir.path();
  const test::RunResult plain = runQuarn({"detect", "app"}, options);
  const test::RunResult extra = runQuarn({"detect", "app", "other", "words"}, options);
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(extra.status, 0);
  EXPECT_EQ(extra.out, plain.out);
}

TEST(Cli, CreatesTheDataDirectoryOnEveryRun) {
  const TempDir dir;
  const std::string root = dir.path().string();
  struct Case {
    std::map<std::string, std::optional<std::string>> env;
    std::string created;
  };
  const std::vector<Case> cases = {
      {{{"APPDATA", root + "/appdata/deeper"}}, root + "/appdata/deeper/Quarn"},
      {{{"APPDATA", ""}}, root + "/Quarn"},
      {{{"XDG_DATA_HOME", root + "/xdg"}}, root + "/xdg/Quarn"},
      {{{"XDG_DATA_HOME", "relative"}, {"HOME", root + "/home"}},
       root + "/home/.local/share/Quarn"},
      {{{"HOME", root + "/home2"}}, root + "/home2/.local/share/Quarn"},
      {{{"HOME", ""}}, root + "/.quarn"},
      {{{"HOME", std::nullopt}}, root + "/.quarn"},
  };
  for (const Case& c : cases) {
    RunOptions options;
    options.env = c.env;
    options.cwd = dir.path();
    for (const std::string word : {"help", "no-such-command"}) {
      const test::RunResult result = runQuarn({word}, options);
      EXPECT_TRUE(fs::is_directory(c.created)) << c.created;
      EXPECT_EQ(result.out.rfind(test::banner(), 0), 0u) << result.out;
      fs::remove_all(c.created);
    }
  }
}

TEST(Cli, ADataDirectoryThatCannotBeMadeIsAWarningOnly) {
  const TempDir dir;
  const fs::path file = dir.write("not-a-folder");
  RunOptions options;
  options.env = {{"APPDATA", file.string()}};
  const test::RunResult result = runQuarn({"help"}, options);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "[warning] Could not create data directory '" + file.string() +
                            "/Quarn': Not a directory\n" + test::banner() + usage());
}

TEST(Cli, ColoursOnlyOnATerminalAndNeverWithNoColor) {
  const TempDir dir;
  dir.write("app/Cargo.toml");
  const std::string command = std::string(QUARN_BINARY) + " detect app";
  struct Case {
    bool terminal;
    std::optional<std::string> noColor;
    bool coloured;
  };
  const Case cases[] = {{true, std::nullopt, true},
                        {true, "", true},
                        {true, "1", false},
                        {false, std::nullopt, false}};
  for (const Case& c : cases) {
    RunOptions options;
    options.cwd = dir.path();
    options.env = {{"TERM", "xterm"}, {"NO_COLOR", c.noColor}};
    const test::RunResult result =
        c.terminal ? test::runProgram({"script", "-qefc", command, "/dev/null"}, options)
                   : runQuarn({"detect", "app"}, options);
    EXPECT_EQ(result.status, 0);
    const bool hasEscape = result.out.find("\x1b[") != std::string::npos;
    EXPECT_EQ(hasEscape, c.coloured) << result.out;
    if (c.coloured) {
      EXPECT_NE(result.out.find("\x1b[32m[info]\x1b[m Language: Rust"), std::string::npos);
    }
  }
}

TEST(Cli, AnErrorThatEscapesACommandIsReportedWithStatusOne) {
  const TempDir dir;
  fs::create_directory_symlink("loop", dir / "loop");
  RunOptions options;
  options.cwd = dir.path();
  for (const std::string command : {"detect", "info", "validate", "build", "rebuild"}) {
    const test::RunResult result = runQuarn({command, "loop"}, options);
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_EQ(result.out, test::banner() +
                              "[error] filesystem error: exists: Too many levels of symbolic links "
                              "[loop/.csproj]\n")
        << command;
  }
}

}  // namespace
}  // namespace quarn
