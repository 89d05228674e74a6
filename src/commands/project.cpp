#include "commands/project.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "base/logger.hpp"
#include "project/kinds.hpp"
#include "project/planner.hpp"
#include "project/project_detector.hpp"
#include "project/work_tree.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

bool hasSettingsFile(const std::string& folder) {
  std::error_code error;
  return fs::exists(fs::path(folder) / kSettingsFileName, error);
}

// What the markers of `folder` decide; Unknown as well when it holds only a quarn.toml, which
// makes it a project all the same.
struct Found {
  Detection detection;
  bool project = false;
};

Found look(const std::string& folder) {
  Found found{ProjectDetector().detectMarker(folder), false};
  found.project = found.detection.kind != nullptr || hasSettingsFile(folder);
  return found;
}

// When no path was typed and the current folder holds no project but lies in a work tree, the
// nearest parent up to the work tree's root that holds one. Each folder is listed once.
std::optional<std::pair<std::string, Found>> projectRootAbove(const std::string& current) {
  const WorkTree tree = findWorkTree(current);
  if (tree.system == WorkTree::System::None) return std::nullopt;
  fs::path folder = absoluteFolder(current);
  while (folder.string() != tree.root && folder.has_relative_path()) {
    folder = folder.parent_path();
    Found found = look(folder.string());
    if (found.project) return std::pair{folder.string(), std::move(found)};
  }
  return std::nullopt;
}

void applySettings(Project& project) {
  const ProjectSettings& settings = *project.settings;
  BuildConfig& config = project.config;
  if (settings.build) {
    config.build = Command{};
    config.build.step = *settings.build;
    config.buildCommand = *settings.build;
    config.note.clear();
  }
  if (settings.tools) {
    config.tools = *settings.tools;
    config.buildTool = config.tools.empty() ? std::string() : config.tools.front();
  }
  if (settings.clean) {
    config.clean.folders.clear();
    config.clean.command = *settings.clean;
    config.clean.tools.clear();
  }
  config.evidence.emplace_back(kSettingsFileName);
}

// The version in a version line ("12.0.0", "v1.2.3", "yarn 4.5.0"), without a leading "v";
// empty when there is none.
std::string versionIn(const std::string& line) {
  for (size_t at = 0; at < line.size(); ++at) {
    const bool digit = line[at] >= '0' && line[at] <= '9';
    const bool alone = at == 0 || line[at - 1] == ' ' || line[at - 1] == 'v' || line[at - 1] == '@';
    if (!digit || !alone) continue;
    const size_t end = line.find_first_of(" \t\r", at);
    return line.substr(at, end == std::string::npos ? std::string::npos : end - at);
  }
  return {};
}

// The major number of a version, or -1.
long majorOf(const std::string& version) {
  long major = -1;
  for (size_t i = 0; i < version.size() && version[i] >= '0' && version[i] <= '9'; ++i) {
    if (major > 100000) return -1;
    major = (major < 0 ? 0 : major * 10) + (version[i] - '0');
  }
  return major;
}

}  // namespace

void logProjectsBelow(const CommandOptions& options) {
  std::string text;
  for (const ProjectBelow& project : ProjectDetector().projectsBelow(options.path)) {
    text +=
        (text.empty() ? "" : ", ") + project.path + " (" + std::string(project.kind->name) + ")";
  }
  if (!text.empty()) Logger::get()->info("Projects below: " + text);
}

const PinnedTool* pinnedTool(const BuildConfig& config) {
  if (!config.pinned) return nullptr;
  const bool runs = std::find(config.tools.begin(), config.tools.end(), config.pinned->tool) !=
                    config.tools.end();
  return runs ? &*config.pinned : nullptr;
}

std::string pinWarning(const PinnedTool& pin, const std::string& installed) {
  // Majors only: a pin ages as releases come, and a later minor builds the project alike; a major
  // changes lockfile formats and flags.
  const std::string version = versionIn(installed);
  const long major = majorOf(version);
  if (major < 0 || majorOf(pin.version) < 0 || major == majorOf(pin.version)) return {};
  return pin.file + " pins " + pin.tool + " " + pin.version + "; " + pin.tool + " " + version +
         " is installed";
}

std::optional<Project> findProject(const CommandOptions& options) {
  Project project;
  project.folder = options.path;
  // Detection comes first: a folder it cannot read is reported as detection reports it.
  Found found = look(project.folder);
  if (!options.pathGiven && !found.project) {
    auto root = projectRootAbove(project.folder);
    if (!root) return std::nullopt;
    project.folder = std::move(root->first);
    found = std::move(root->second);
    project.rootFound = true;
  }
  const Detection& detection = found.detection;
  project.settings = readProjectSettings(project.folder);

  std::string chosen = options.kind;
  project.kindChosen = !chosen.empty();
  if (!project.kindChosen && project.settings && project.settings->kind) {
    chosen = *project.settings->kind;
  }
  PlanRequest request;
  request.folder = project.folder;
  if (const Kind* kind = kindNamed(chosen)) {
    request.kind = kind;
    request.chosen = true;
  } else {
    request.kind = detection.kind;
    request.marker = detection.marker;
  }
  if (request.kind == nullptr) {
    if (!project.settings) return std::nullopt;
    if (!project.settings->build) {
      throw SettingsError(project.settings->file +
                          ":1:1: no kind is detected here; set 'kind' or 'build'");
    }
    request.kind = &customKind();
    request.chosen = true;
  }
  if (request.kind == &customKind() && !(project.settings && project.settings->build)) {
    throw SettingsError("--kind custom needs a quarn.toml that sets 'build'");
  }
  project.config =
      request.kind == &customKind() ? configFromTable(customKind()) : planBuild(request);
  if (project.settings) applySettings(project);
  return project;
}

std::string configuredBy(const Project& project) {
  std::string text;
  if (project.kindChosen) text = "--kind";
  if (project.settings) {
    std::string keys;
    for (const std::string& key : project.settings->keys) {
      if (key == "kind" && project.kindChosen) continue;
      keys += keys.empty() ? key : ", " + key;
    }
    if (!text.empty()) text += ", ";
    text += keys.empty() ? std::string(kSettingsFileName)
                         : std::string(kSettingsFileName) + " (" + keys + ")";
  }
  return text;
}

std::string shownFolder(const Project& project, const CommandOptions& options) {
  return project.rootFound ? project.folder : options.path;
}

}  // namespace quarn
