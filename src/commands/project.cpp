#include "commands/project.hpp"

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "base/logger.hpp"
#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "project/kinds.hpp"
#include "project/planner.hpp"
#include "project/project_detector.hpp"
#include "project/work_tree.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

// A link that leads nowhere counts too: reading it then says what is wrong.
bool hasSettingsFile(const std::string& folder) {
  std::error_code error;
  const fs::file_type type =
      platform::fileType((fs::u8path(folder) / kSettingsFileName).u8string(), false, error);
  return type != fs::file_type::none && type != fs::file_type::not_found;
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

// `path` as the file system reaches it: absolute, every link and ".." resolved. nullopt when it
// cannot be resolved (a folder that does not exist, a loop of links): the path then stays as
// typed, and detection says what is wrong with it.
std::optional<std::string> physicalFolder(const std::string& path) {
  std::error_code error;
  const fs::path physical = fs::canonical(fs::u8path(path), error);
  if (error) return std::nullopt;
  return physical.u8string();
}

// look() in the physical `folder`; an error names its path as the user typed it, `shown`.
Found lookAs(const std::string& folder, const std::string& shown) {
  try {
    return look(folder);
  } catch (const fs::filesystem_error& error) {
    if (folder == shown) throw;
    std::string message = error.what();
    for (const fs::path* path : {&error.path1(), &error.path2()}) {
      const fs::path inner = path->lexically_relative(folder);
      if (path->empty() || inner.empty() || *inner.begin() == "..") continue;
      const std::string typed = inner == "." ? shown : (fs::u8path(shown) / inner).u8string();
      const std::string was = "[" + path->string() + "]";
      const std::size_t at = message.find(was);
      if (at != std::string::npos) message.replace(at, was.size(), "[" + typed + "]");
    }
    throw std::runtime_error(message);
  }
}

// When no path was typed and the current folder holds no project but lies in a work tree, the
// nearest parent up to the work tree's root that holds one. Each folder is listed once.
std::optional<std::pair<std::string, Found>> projectRootAbove(const std::string& current) {
  const WorkTree tree = findWorkTree(current);
  if (tree.system == WorkTree::System::None) return std::nullopt;
  fs::path folder = fs::u8path(absoluteFolder(current));
  while (folder.u8string() != tree.root && folder.has_relative_path()) {
    folder = folder.parent_path();
    Found found = look(folder.u8string());
    if (found.project) return std::pair{folder.u8string(), std::move(found)};
  }
  return std::nullopt;
}

// The project's own build, run before the tests that need it. Where it is more than one plain
// line (several lines, a trailing comment or operator), a POSIX shell groups it, so that the tests
// follow the whole of it as they would follow the build's own command.
std::string buildBeforeTests(const ProjectSettings& settings) {
  const std::string& build = *settings.build;
  const bool plain =
      settings.buildRefusesArguments.empty() && settings.buildArgumentsAt == std::string::npos;
  if (plain || platform::kCommandDialect == platform::CommandDialect::WindowsCmd) return build;
  return "{ " + build + "\n}";
}

void applySettings(Project& project) {
  const ProjectSettings& settings = *project.settings;
  BuildConfig& config = project.config;
  Command& test = config.test.command;
  if (settings.build) {
    // Tests that need the project built run the project's own build first.
    const std::string planned = config.build.line();
    if (config.kind->testBuildsFirst && !planned.empty() && test.setup.rfind(planned, 0) == 0) {
      test.setup.replace(0, planned.size(), buildBeforeTests(settings));
    }
    config.build = Command{};
    config.build.step = *settings.build;
    config.build.argumentsAt = settings.buildArgumentsAt;
    config.build.argumentsRefused = settings.buildRefusesArguments;
    config.buildCommand = *settings.build;
    config.note.clear();
    // The project's own command may write anything: "build" is taken as its output, as for a
    // project of no kind.
    config.clean.folders = {"build"};
  }
  if (settings.test) {
    test = Command{};
    test.step = *settings.test;
    test.argumentsAt = settings.testArgumentsAt;
    test.argumentsRefused = settings.testRefusesArguments;
    if (config.test.tools.empty()) config.test.tools = config.tools;
  }
  if (settings.tools) {
    config.tools = *settings.tools;
    config.buildTool = config.tools.empty() ? std::string() : config.tools.front();
    if (!test.empty()) config.test.tools = config.tools;
  }
  if (settings.clean) {
    config.clean.folders.clear();
    config.clean.command = *settings.clean;
    config.clean.tools.clear();
    config.clean.makeTarget.clear();
    config.clean.makeCommand.clear();
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
  project.shown = options.path;
  std::optional<std::string> physical = physicalFolder(options.path);
  project.resolved = physical.has_value();
  project.folder = physical ? *physical : options.path;
  // Detection comes first: a folder it cannot read is reported as detection reports it.
  Found found = lookAs(project.folder, project.shown);
  if (!options.pathGiven && !found.project) {
    auto root = projectRootAbove(project.folder);
    if (!root) return std::nullopt;
    project.folder = std::move(root->first);
    project.shown = project.folder;
    found = std::move(root->second);
    project.rootFound = true;
  }
  const Detection& detection = found.detection;
  project.settings = readProjectSettings(project.folder, project.shown);

  std::string chosen = options.kind;
  project.kindChosen = !chosen.empty();
  if (!project.kindChosen && project.settings && project.settings->kind) {
    chosen = *project.settings->kind;
  }
  PlanRequest& request = project.request;
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
  planAgain(project);
  return project;
}

void planAgain(Project& project) {
  const PlanRequest& request = project.request;
  project.config =
      request.kind == &customKind() ? configFromTable(customKind()) : planBuild(request);
  if (project.settings) applySettings(project);
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

}  // namespace quarn
