#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "cli/data_directory.hpp"
#include "support/test_support.hpp"

namespace quarn {
namespace {

using test::ScopedEnv;
using Value = std::optional<std::string>;

TEST(DataDirectory, FollowsAppDataThenTheUsersDataFolderThenTheCurrentFolder) {
  struct Case {
    Value appData, xdgDataHome, home;
    const char* expected;
  };
  const Case cases[] = {
      {"/data/roaming", "/xdg", "/home/u", "/data/roaming/Quarn"},
      {"/data/roaming/", std::nullopt, std::nullopt, "/data/roaming/Quarn"},
      {"", "/xdg", "/home/u", "Quarn"},
      {"relative", std::nullopt, std::nullopt, "relative/Quarn"},
      {std::nullopt, "/xdg", "/home/u", "/xdg/Quarn"},
      {std::nullopt, "relative-xdg", "/home/u", "/home/u/.local/share/Quarn"},
      {std::nullopt, "", "/home/u", "/home/u/.local/share/Quarn"},
      {std::nullopt, std::nullopt, "/home/u/", "/home/u/.local/share/Quarn"},
      {std::nullopt, std::nullopt, "", ".quarn"},
      {std::nullopt, std::nullopt, std::nullopt, ".quarn"},
  };
  for (const Case& c : cases) {
    const ScopedEnv appData("APPDATA", c.appData);
    const ScopedEnv xdg("XDG_DATA_HOME", c.xdgDataHome);
    const ScopedEnv home("HOME", c.home);
    EXPECT_EQ(getDataDirectory(), c.expected)
        << c.appData.value_or("<unset>") << " " << c.xdgDataHome.value_or("<unset>") << " "
        << c.home.value_or("<unset>");
  }
}

}  // namespace
}  // namespace quarn
