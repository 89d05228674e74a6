// The installed layout, the man page, the shell completion and the Debian package.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "project/kinds.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

namespace fs = std::filesystem;
using test::RunOptions;
using test::runProgram;
using test::TempDir;

const char* const kInstalledFiles[] = {
    "usr/bin/quarn",
    "usr/share/man/man1/quarn.1.gz",
    "usr/share/bash-completion/completions/quarn",
    "usr/share/zsh/vendor-completions/_quarn",
};

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Install, IntoADestdirHoldsTheProgramManPageAndCompletions) {
  const TempDir root;
  RunOptions options;
  options.env = {{"DESTDIR", root.path().string()}};
  const test::RunResult install =
      runProgram({"cmake", "--install", QUARN_BUILD_DIR, "--prefix", "/usr"}, options);
  ASSERT_EQ(install.status, 0) << install.out << install.err;
  for (const char* file : kInstalledFiles) EXPECT_TRUE(fs::is_regular_file(root / file)) << file;
  const test::RunResult help = runProgram({(root / "usr/bin/quarn").string(), "help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind(test::banner(), 0), 0u);
}

TEST(Install, ManPageRendersWithoutWarnings) {
  const std::string page = std::string(QUARN_SOURCE_DIR) + "/doc/quarn.1";
  const test::RunResult lint = runProgram({"mandoc", "-T", "lint", "-W", "warning", page});
  EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
  EXPECT_EQ(lint.out + lint.err, "");
  const test::RunResult groff = runProgram({"groff", "-ww", "-mandoc", "-Tutf8", "-P-cbu", page});
  EXPECT_EQ(groff.status, 0);
  EXPECT_EQ(groff.err, "");
  for (const char* section : {"SYNOPSIS", "ENVIRONMENT", "EXIT STATUS", "FILES", "EXAMPLES"}) {
    EXPECT_TRUE(contains(groff.out, section)) << section;
  }
}

TEST(Install, BashCompletesCommandWordsThenFolders) {
  const TempDir dir;
  fs::create_directories(dir / "examples/cmake");
  fs::create_directory(dir / "extra");
  dir.write("exe-file");
  struct Case {
    std::string words;
    int index;
    std::string expected;
  };
  const Case cases[] = {
      {"quarn de", 1, "detect"},
      {"quarn re", 1, "rebuild"},
      {"quarn ''", 1, "--version build clean detect help info rebuild test validate"},
      {"quarn te", 1, "test"},
      {"quarn x", 1, ""},
      {"quarn build ex", 2, "examples extra"},
      {"quarn detect examples/", 2, "examples/cmake"},
      {"quarn help ex", 2, ""},
      {"quarn help ''", 2, "build clean detect info rebuild test validate"},
      {"quarn build --d", 2, "--dry-run"},
      {"quarn rebuild --h", 2, "--help --hosts"},
      {"quarn validate --h", 2, "--help --hosts"},
      {"quarn info --h", 2, "--help"},
      {"quarn build --hosts ex", 3, ""},
      {"quarn detect --j", 2, "--json"},
      {"quarn clean -", 2, "--dry-run --help --kind --quiet --version"},
      {"quarn build -n ex", 3, "examples extra"},
      {"quarn info --kind ma", 3, "make maven"},
      {"quarn build . -- ex", 4, ""},
      {"quarn test -", 2, "--dry-run --help --jobs --kind --quiet --version"},
      {"quarn test . -- ex", 4, ""},
  };
  const std::string script = std::string(QUARN_SOURCE_DIR) + "/completions/quarn.bash";
  RunOptions options;
  options.cwd = dir.path();
  for (const Case& c : cases) {
    const std::string command = "source '" + script + "'; complete -p quarn; COMP_WORDS=(" +
                                c.words + "); COMP_CWORD=" + std::to_string(c.index) +
                                "; _quarn; echo $(printf '%s\\n' \"${COMPREPLY[@]}\" | sort)";
    const test::RunResult result = runProgram({"bash", "-c", command}, options);
    EXPECT_EQ(result.out, "complete -F _quarn quarn\n" + c.expected + "\n") << c.words;
  }
  // The kinds offered after --kind are the ones quarn takes, none missing.
  const std::string kinds = runProgram({"bash", "-c",
                                        "source '" + script +
                                            "'; COMP_WORDS=(quarn build --kind ''); COMP_CWORD=3; "
                                            "_quarn; printf '%s\\n' \"${COMPREPLY[@]}\""},
                                       options)
                                .out;
  std::string expected;
  for (const std::string& name : kindNames()) expected += name + "\n";
  EXPECT_EQ(kinds, expected);
}

TEST(Install, DebianPackageHasItsFieldsAndFiles) {
  const TempDir out;
  const test::RunResult pack =
      runProgram({"cpack", "-G", "DEB", "-B", out.path().string(), "--config",
                  std::string(QUARN_BUILD_DIR) + "/CPackConfig.cmake"});
  ASSERT_EQ(pack.status, 0) << pack.out << pack.err;
  const fs::path deb = out / "quarn_1.0.0_amd64.deb";
  ASSERT_TRUE(fs::exists(deb)) << pack.out;
  const test::RunResult info = runProgram({"dpkg-deb", "--info", deb.string()});
  for (const char* field :
       {"Package: quarn\n", "Version: 1.0.0\n", "Section: devel\n",
        " libc6 (>= ", "Recommends: bash-completion\n", "Description: one command that builds"}) {
    EXPECT_TRUE(contains(info.out, field)) << field << "\n" << info.out;
  }
  const test::RunResult contents = runProgram({"dpkg-deb", "--contents", deb.string()});
  for (const char* file : kInstalledFiles) {
    EXPECT_TRUE(contains(contents.out, std::string("./") + file + "\n")) << file;
  }
  // The man page as Debian's policy asks: gzip at its best (XFL 2), with no name and no time
  // (gzip -9n), and man reads it.
  const TempDir unpacked;
  ASSERT_EQ(runProgram({"dpkg-deb", "-x", deb.string(), unpacked.path().string()}).status, 0);
  const fs::path page = unpacked / "usr/share/man/man1/quarn.1.gz";
  const std::string bytes = test::readFile(page);
  ASSERT_GE(bytes.size(), 10u);
  EXPECT_EQ(bytes.substr(0, 3), "\x1f\x8b\x08");
  EXPECT_EQ(bytes[3] & 0x08, 0) << "the file's name is in the header";
  EXPECT_EQ(bytes.substr(4, 4), std::string(4, '\0')) << "the time is in the header";
  EXPECT_EQ(bytes[8], '\x02');
  RunOptions reader;
  reader.env = {{"MANPAGER", "cat"}, {"MANWIDTH", "80"}};
  const test::RunResult man = runProgram({"man", "-l", page.string()}, reader);
  EXPECT_EQ(man.status, 0) << man.err;
  EXPECT_TRUE(contains(man.out, "EXIT STATUS")) << man.out;
}

}  // namespace
}  // namespace quarn
