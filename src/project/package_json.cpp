#include "project/package_json.hpp"

#include <nlohmann/json.hpp>

#include "platform/files.hpp"

namespace quarn {

namespace {

constexpr std::size_t kSizeLimit = std::size_t{4} << 20;

bool nonEmptyObject(const nlohmann::json& package, const char* key) {
  const auto field = package.find(key);
  return field != package.end() && field->is_object() && !field->empty();
}

}  // namespace

PackageJson readPackageJson(const std::string& path) {
  PackageJson result;
  const platform::FileText file = platform::readRegularFile(path, kSizeLimit);
  if (file.status != platform::FileText::Status::Read) return result;
  // Only the top two levels matter; deeper values are dropped as they are read.
  const nlohmann::json package = nlohmann::json::parse(
      file.text,
      [](int depth, nlohmann::json::parse_event_t /*event*/, nlohmann::json& /*value*/) {
        return depth <= 2;
      },
      false);
  if (package.is_discarded() || !package.is_object()) return result;
  result.isObject = true;
  const auto manager = package.find("packageManager");
  if (manager != package.end() && manager->is_string()) {
    result.packageManager = manager->get<std::string>();
  }
  result.declaresDependencies =
      nonEmptyObject(package, "dependencies") || nonEmptyObject(package, "devDependencies");
  const auto scripts = package.find("scripts");
  if (scripts != package.end() && scripts->is_object()) {
    result.hasScripts = true;
    result.hasBuildScript = scripts->contains("build");
    result.hasCleanScript = scripts->contains("clean");
    const auto test = scripts->find("test");
    result.hasTestScript = test != scripts->end();
    if (result.hasTestScript && test->is_string()) result.testScript = test->get<std::string>();
  }
  return result;
}

}  // namespace quarn
