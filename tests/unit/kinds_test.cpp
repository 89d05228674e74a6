// The kind table read row by row: every row must be usable before any folder asks for it, and the
// documentation must list the kinds the table holds, in its order (the package description in
// any).
#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "project/kinds.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

bool isWord(std::string_view text) {
  return !text.empty() && text.find_first_of(" \t\n{}") == std::string_view::npos;
}

// A command of the table: a step that begins with a program, a set-up only beside a step, and
// none of the placeholders rows once held.
void expectValidCommand(const CommandRow& row, const std::string& where) {
  SCOPED_TRACE(where);
  for (std::string_view part : {row.setup, row.step, row.tail, row.argumentPrefix}) {
    EXPECT_EQ(part.find_first_of("{}\n"), std::string_view::npos) << part;
    EXPECT_EQ(part.find("  "), std::string_view::npos) << part;
  }
  if (row.step.empty()) {
    EXPECT_TRUE(row.setup.empty() && row.tail.empty() && row.argumentPrefix.empty());
    return;
  }
  EXPECT_NE(row.step.front(), ' ');
  EXPECT_NE(row.step.back(), ' ');
  EXPECT_EQ(row.step.find(" && "), std::string_view::npos) << "a step is one command";
}

void expectValidJobs(const Jobs& jobs, const std::string& where) {
  SCOPED_TRACE(where);
  if (jobs.via == Jobs::Via::None) {
    EXPECT_TRUE(jobs.text.empty());
    return;
  }
  EXPECT_FALSE(jobs.text.empty());
  if (jobs.via == Jobs::Via::Variable) {
    EXPECT_TRUE(std::regex_match(std::string(jobs.text), std::regex("[A-Z_]+")));
  }
  if (jobs.via == Jobs::Via::Flag) {
    EXPECT_EQ(jobs.text.front(), '-');
  }
}

TEST(Kinds, EveryRowIsUsable) {
  std::set<std::string_view> names;
  std::set<std::string_view> displayNames;
  std::set<std::string_view> markers;
  for (const Kind& kind : kinds()) {
    SCOPED_TRACE(std::string(kind.name));
    EXPECT_TRUE(std::regex_match(std::string(kind.name), std::regex("[a-z]+"))) << kind.name;
    EXPECT_TRUE(names.insert(kind.name).second) << "two kinds of one name";
    EXPECT_TRUE(displayNames.insert(kind.displayName).second);
    EXPECT_FALSE(kind.language.empty());
    for (const Marker& marker : kind.markers) {
      EXPECT_TRUE(isWord(marker.name)) << marker.name;
      EXPECT_EQ(marker.name.find('/'), std::string_view::npos) << marker.name;
      EXPECT_TRUE(markers.insert(marker.name).second) << "two kinds claim " << marker.name;
      // Detection passes over names without a dot before it looks for part of one.
      if (marker.match == Marker::Match::Containing || marker.match == Marker::Match::Suffix) {
        EXPECT_NE(marker.name.find('.'), std::string_view::npos) << marker.name;
      }
    }
    const bool buildable = &kind != &unknownKind() && &kind != &customKind();
    EXPECT_EQ(!kind.tools.empty(), buildable);
    EXPECT_EQ(!kind.build.step.empty(), buildable);
    expectValidCommand(kind.build, "build");
    expectValidCommand(kind.clean, "clean");
    expectValidCommand(kind.test, "test");
    EXPECT_TRUE(kind.clean.setup.empty() && kind.clean.tail.empty());
    expectValidJobs(kind.jobs, "build jobs");
    expectValidJobs(kind.testJobs, "test jobs");
    if (kind.testBuildsFirst || !kind.testTools.empty()) {
      EXPECT_FALSE(kind.test.step.empty());
    }
    for (std::string_view folder : kind.outputs) {
      // Removed from inside the project: a plain name, never a path that leads out of it.
      EXPECT_TRUE(isWord(folder)) << folder;
      EXPECT_EQ(folder.find_first_of("/\\"), std::string_view::npos) << folder;
      EXPECT_NE(folder, "..");
      EXPECT_NE(folder, ".");
    }
    if (!kind.wrapper.posix.empty()) {
      EXPECT_TRUE(isWord(kind.wrapper.posix) && isWord(kind.wrapper.windows));
      EXPECT_NE(kind.wrapper.needs, nullptr);
    }
    // A wrapper takes the place of the tool, the first word of the step.
    if (kind.wrapper.needs != nullptr) {
      EXPECT_EQ(kind.build.step.substr(0, kind.build.step.find(' ')), kind.tools.front()->name);
    }
  }
  EXPECT_EQ(kindNamed("unknown"), nullptr);
  EXPECT_EQ(&kindOf(ProjectType::Other), &unknownKind());
}

TEST(Kinds, EveryToolSaysItsVersionAndHowToInstallIt) {
  std::set<std::string_view> names;
  for (const Tool* tool : tools()) {
    SCOPED_TRACE(std::string(tool->name));
    EXPECT_TRUE(isWord(tool->name));
    EXPECT_TRUE(names.insert(tool->name).second);
    if (!tool->versionCommand.empty()) {
      EXPECT_EQ(tool->versionCommand.substr(0, tool->name.size() + 1),
                std::string(tool->name) + " ");
    }
    for (std::string_view guide : {tool->windows, tool->macos, tool->linux}) {
      EXPECT_FALSE(guide.empty());
      EXPECT_EQ(guide.find('\n'), std::string_view::npos);
    }
  }
}

// The documentation names the kinds the table holds, in the table's order.
TEST(Kinds, DocumentationListsEveryKindInOrder) {
  const std::string source = QUARN_SOURCE_DIR;
  std::vector<std::string> detected;  // the kinds a marker decides
  std::vector<std::string> all;       // every kind one can name
  for (const Kind& kind : kinds()) {
    if (&kind == &unknownKind()) continue;
    all.emplace_back(kind.name);
    if (!kind.markers.empty()) detected.emplace_back(kind.name);
  }
  const auto names = [](const std::string& text, const std::string& pattern) {
    std::vector<std::string> found;
    const std::regex expression(pattern);
    for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
         it != std::sregex_iterator(); ++it) {
      found.push_back((*it)[1]);
    }
    return found;
  };
  // The part of `text` from `start` to the next `end`.
  const auto section = [](const std::string& text, const std::string& start,
                          const std::string& end) {
    const size_t from = text.find(start);
    return from == std::string::npos ? std::string()
                                     : text.substr(from, text.find(end, from + 1) - from);
  };
  const std::string readme = section(test::readFile(source + "/README.md"), "### Kinds\n", "\n#");
  EXPECT_EQ(names(section(readme, "|---", "\n\n"), "\n\\| ([a-z]+) \\|"), detected)
      << "README's table of kinds";
  EXPECT_EQ(names(section(test::readFile(source + "/doc/quarn.1"), ".Sh PROJECT KINDS", ".El"),
                  "\n\\.Cm ([a-z]+) :\n"),
            detected)
      << "the man page's list of kinds";
  const std::string zsh = test::readFile(source + "/completions/_quarn");
  const size_t open = zsh.find("kinds=(");
  std::string list = zsh.substr(open + 7, zsh.find(')', open) - open - 7);
  std::replace(list.begin(), list.end(), '\n', ' ');
  EXPECT_EQ(names(" " + list + " ", " ([a-z]+)(?= )"), all) << "zsh's kinds";
  // bash's are held by Install.BashCompletesCommandsOptionsAndKinds.

  // The package's description names each kind, by its name or display name or the tool in that
  // ("C# (.NET)": ".NET"), in any order, and nothing else in its list.
  const std::string description =
      section(test::readFile(source + "/CMakeLists.txt"), "CPACK_DEBIAN_PACKAGE_DESCRIPTION", ")");
  const size_t from = description.find("from its files (");
  ASSERT_NE(from, std::string::npos) << "the package description lists the kinds";
  std::vector<std::string> listed;
  for (std::string item : names(description.substr(from + 16) + ",", "([^,]+),")) {
    std::replace(item.begin(), item.end(), '\n', ' ');
    listed.push_back(item.substr(item.find_first_not_of(' ')));
  }
  const auto lower = [](std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  };
  std::set<std::string> named;
  for (const Kind& kind : kinds()) {
    if (&kind == &unknownKind() || &kind == &customKind()) continue;
    const std::string display(kind.displayName);
    const size_t open = display.find(" (");
    const std::string tool =
        open == std::string::npos ? display : display.substr(open + 2, display.size() - open - 3);
    const auto item = std::find_if(listed.begin(), listed.end(), [&](const std::string& entry) {
      return lower(entry) == kind.name || entry == display || entry == tool;
    });
    EXPECT_NE(item, listed.end()) << "the package description names " << kind.name;
    if (item != listed.end()) named.insert(*item);
  }
  for (const std::string& item : listed) {
    EXPECT_EQ(named.count(item), 1u) << "the package description names " << item << ", no kind";
  }
}

}  // namespace
}  // namespace quarn
