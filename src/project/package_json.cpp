#include "project/package_json.hpp"

#include <nlohmann/json.hpp>

#include "platform/files.hpp"

namespace quarn {

namespace {

constexpr std::size_t kSizeLimit = std::size_t{4} << 20;

// The JSON object in the file at `path`, kept to its top two levels; discarded when the file cannot
// be read or holds no object.
nlohmann::json readObject(const std::string& path, bool comments) {
  const platform::FileText file = platform::readRegularFile(path, kSizeLimit);
  if (file.status != platform::FileText::Status::Read) return nlohmann::json::value_t::discarded;
  // Only the top two levels matter; deeper values are dropped as they are read.
  nlohmann::json object = nlohmann::json::parse(
      file.text,
      [](int depth, nlohmann::json::parse_event_t /*event*/, nlohmann::json& /*value*/) {
        return depth <= 2;
      },
      false, comments);
  if (!object.is_object()) return nlohmann::json::value_t::discarded;
  return object;
}

bool nonEmptyObject(const nlohmann::json& package, const char* key) {
  const auto field = package.find(key);
  return field != package.end() && field->is_object() && !field->empty();
}

}  // namespace

PackageJson readPackageJson(const std::string& path) {
  PackageJson result;
  const nlohmann::json package = readObject(path, false);
  if (package.is_discarded()) return result;
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

std::optional<std::vector<std::string>> readManifestKeys(const std::string& path,
                                                         const std::string& field) {
  const nlohmann::json manifest = readObject(path, true);
  if (manifest.is_discarded()) return std::nullopt;
  std::vector<std::string> keys;
  const auto object = manifest.find(field);
  if (object != manifest.end() && object->is_object()) {
    for (const auto& item : object->items()) keys.push_back(item.key());
  }
  return keys;
}

}  // namespace quarn
