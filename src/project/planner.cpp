#include "project/planner.hpp"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "project/kinds.hpp"
#include "project/makefile.hpp"
#include "project/package_json.hpp"
#include "project/work_tree.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kMakefileLimit = std::size_t{4} << 20;

bool windows() { return platform::kCommandDialect == platform::CommandDialect::WindowsCmd; }

// What a project folder holds, asked without ever failing: an entry that cannot be examined is
// taken as absent.
class Folder {
 public:
  explicit Folder(std::string path) : path_(std::move(path)) {}
  const std::string& path() const { return path_; }
  std::string at(const std::string& name) const { return (fs::u8path(path_) / name).u8string(); }
  bool hasFile(const std::string& name) const { return is(name, fs::file_type::regular); }
  bool hasFolder(const std::string& name) const { return is(name, fs::file_type::directory); }
  bool hasProgram(const std::string& name) const {
    return windows() ? hasFile(name) : platform::isExecutableFile(at(name));
  }

 private:
  bool is(const std::string& name, fs::file_type type) const {
    std::error_code error;
    return platform::fileType(at(name), true, error) == type;
  }
  std::string path_;
};

// Splits a build text into the setup (everything before the last "&&") and the build step, and
// finds where passed arguments go: "{}" in the step, or "{--}" for arguments after a prefix.
void setBuildText(BuildConfig& config, std::string_view text) {
  const size_t join = text.rfind(" && ");
  std::string step(join == std::string_view::npos ? text : text.substr(join + 4));
  config.setupStep = join == std::string_view::npos ? "" : std::string(text.substr(0, join));
  config.argumentsAt = std::string::npos;
  config.argumentPrefix.clear();
  const size_t open = step.find('{');
  const size_t close = step.find('}', open);
  if (open != std::string::npos && close != std::string::npos) {
    config.argumentPrefix = step.substr(open + 1, close - open - 1);
    step.erase(open, close - open + 1);
    if (open < step.size()) config.argumentsAt = open;
  }
  config.buildStep = std::move(step);
}

void joinCommand(BuildConfig& config) {
  if (config.setupStep.empty() || config.buildStep.empty()) {
    config.buildCommand = config.setupStep + config.buildStep;
  } else {
    config.buildCommand = config.setupStep + " && " + config.buildStep;
  }
}

// The folders a lockfile is looked for in: the project's, then its parents up to the root of the
// work tree it lies in.
std::vector<std::string> lockfileFolders(const std::string& folder) {
  std::vector<std::string> folders{folder};
  const WorkTree tree = findWorkTree(folder);
  if (tree.system == WorkTree::System::None) return folders;
  fs::path current = fs::u8path(absoluteFolder(folder));
  while (current.string() != tree.root && current.has_relative_path()) {
    current = current.parent_path();
    folders.push_back(current.string());
  }
  return folders;
}

struct Lockfile {
  ProjectType manager = ProjectType::Unknown;
  std::string folder;
  std::string name;
};

// The nearest lockfile of any package manager, or of `only` when it is not Unknown.
Lockfile findLockfile(const std::vector<std::string>& folders, ProjectType only) {
  const std::pair<const char*, ProjectType> kLockfiles[] = {
      {"pnpm-lock.yaml", ProjectType::Pnpm},   {"yarn.lock", ProjectType::Yarn},
      {"bun.lock", ProjectType::Bun},          {"bun.lockb", ProjectType::Bun},
      {"package-lock.json", ProjectType::Npm}, {"npm-shrinkwrap.json", ProjectType::Npm},
  };
  for (const std::string& folder : folders) {
    const Folder here(folder);
    for (const auto& [name, manager] : kLockfiles) {
      if ((only == ProjectType::Unknown || only == manager) && here.hasFile(name)) {
        return {manager, folder, name};
      }
    }
  }
  return {};
}

// The manager a "packageManager" field names ("pnpm@9.1.0"), with its major version.
std::pair<ProjectType, int> namedManager(const std::string& field) {
  const size_t at = field.find('@');
  const std::string name = field.substr(0, at);
  const Kind* kind = kindNamed(name);
  if (kind == nullptr || (kind->type != ProjectType::Npm && kind->type != ProjectType::Pnpm &&
                          kind->type != ProjectType::Yarn && kind->type != ProjectType::Bun)) {
    return {ProjectType::Unknown, 0};
  }
  int major = 0;
  for (size_t i = at == std::string::npos ? field.size() : at + 1;
       i < field.size() && field[i] >= '0' && field[i] <= '9' && major < 1000; ++i) {
    major = major * 10 + (field[i] - '0');
  }
  return {kind->type, major};
}

std::string relativeTo(const std::string& folder, const std::string& inner,
                       const std::string& name) {
  if (inner == folder) return name;
  const fs::path relative =
      fs::u8path(inner).lexically_relative(fs::u8path(absoluteFolder(folder))) / name;
  return relative.string();
}

void planJavaScript(BuildConfig& config, const Folder& folder, const PlanRequest& request) {
  const PackageJson package = readPackageJson(folder.at("package.json"));
  if (!package.isObject) {
    config.clean.command.clear();  // no clean script is known
    return;                        // the manager will say what is wrong with the file
  }
  ProjectType manager = request.chosen ? request.type : ProjectType::Unknown;
  int yarnMajor = 0;
  if (manager == ProjectType::Unknown && package.packageManager) {
    std::tie(manager, yarnMajor) = namedManager(*package.packageManager);
    if (manager != ProjectType::Unknown) config.evidence.emplace_back("package.json");
  }
  const std::vector<std::string> folders = lockfileFolders(folder.path());
  if (manager == ProjectType::Unknown) {
    const Lockfile nearest = findLockfile(folders, ProjectType::Unknown);
    manager = nearest.manager == ProjectType::Unknown ? ProjectType::Npm : nearest.manager;
  }
  const Lockfile lockfile = findLockfile(folders, manager);
  if (!lockfile.name.empty()) {
    config.evidence.push_back(relativeTo(folder.path(), lockfile.folder, lockfile.name));
  }
  if (manager != config.projectType) {
    std::vector<std::string> evidence = std::move(config.evidence);
    config = configFromTable(manager);
    config.evidence = std::move(evidence);
  }

  std::string install;
  const bool installed =
      folder.hasFolder("node_modules") ||
      (!lockfile.folder.empty() && Folder(lockfile.folder).hasFolder("node_modules"));
  if (package.declaresDependencies && !installed) {
    const bool locked = !lockfile.name.empty();
    switch (manager) {
      case ProjectType::Pnpm:
        install = locked ? "pnpm install --frozen-lockfile" : "pnpm install";
        break;
      case ProjectType::Yarn: {
        const bool berry = yarnMajor >= 2 || folder.hasFile(".yarnrc.yml") ||
                           (locked && Folder(lockfile.folder).hasFile(".yarnrc.yml"));
        install = !locked ? "yarn install"
                          : (berry ? "yarn install --immutable" : "yarn install --frozen-lockfile");
        break;
      }
      case ProjectType::Bun: install = "bun install"; break;
      default: install = locked ? "npm ci" : "npm install"; break;
    }
  }
  config.setupStep = install;
  if (package.hasScripts && !package.hasBuildScript) {
    config.buildStep.clear();
    config.note = "package.json has no build script";
  }
  if (!package.hasCleanScript) config.clean.command.clear();
}

void planPython(BuildConfig& config, const Folder& folder, const PlanRequest& request) {
  if (!request.chosen) {
    for (const auto& [lockfile, kind] :
         {std::pair{"uv.lock", ProjectType::Uv}, std::pair{"poetry.lock", ProjectType::Poetry}}) {
      if (folder.hasFile(lockfile)) {
        std::vector<std::string> evidence = std::move(config.evidence);
        config = configFromTable(kind);
        config.evidence = std::move(evidence);
        config.evidence.emplace_back(lockfile);
        return;
      }
    }
  }
  if (config.projectType != ProjectType::Pip) return;
  const char* active = std::getenv("VIRTUAL_ENV");
  if (active != nullptr && active[0] != '\0') return;
  for (const char* venv : {".venv", "venv"}) {
    const std::string pip =
        windows() ? std::string(venv) + "\\Scripts\\pip.exe" : std::string(venv) + "/bin/pip";
    if (folder.hasProgram(pip)) {
      config.buildTool = pip;
      config.tools = {pip};
      config.buildStep = pip + " install -e .";
      config.evidence.push_back(pip);
      return;
    }
  }
}

void planAutotools(BuildConfig& config, const Folder& folder) {
  if (folder.hasProgram("configure")) {
    if (windows()) config.setupStep = "sh ./configure";
    return;
  }
  const std::string configure = windows() ? "sh ./configure" : "./configure";
  if (folder.hasFile("autogen.sh")) {
    config.setupStep = "sh autogen.sh && " + configure;
    config.evidence.emplace_back("autogen.sh");
  } else {
    config.setupStep = "autoreconf -fi && " + configure;
  }
  config.tools = {"make", "autoreconf"};
}

// Make's own clean runs only where a makefile defines the target, read, never asked of make.
void keepCleanOnlyIfDefined(BuildConfig& config, const Folder& folder) {
  for (const char* name : {"GNUmakefile", "makefile", "Makefile"}) {
    const platform::FileText file = platform::readRegularFile(folder.at(name), kMakefileLimit);
    if (file.status == platform::FileText::Status::Missing) continue;
    if (file.status == platform::FileText::Status::Read && definesTarget(file.text, "clean")) {
      return;
    }
    break;
  }
  config.clean.command.clear();
}

void useWrapper(BuildConfig& config, const Kind& kind, const Folder& folder) {
  if (kind.wrapper.empty()) return;
  const std::string script(windows() ? kind.wrapperCmd : kind.wrapper);
  if (!folder.hasProgram(script)) return;
  const size_t space = config.buildStep.find(' ');
  const std::string invocation = windows() ? script : "./" + script;
  config.buildStep = invocation + config.buildStep.substr(space);
  if (config.argumentsAt != std::string::npos) {
    config.argumentsAt = config.argumentsAt - space + invocation.size();
  }
  config.buildTool = std::string(kind.wrapperTool);
  config.tools = {config.buildTool};
  config.evidence.push_back(script);
}

}  // namespace

BuildConfig configFromTable(ProjectType type) {
  const Kind& kind = kindOf(type);
  BuildConfig config;
  config.projectType = kind.type;
  config.buildTool = std::string(kind.tool);
  config.language = std::string(kind.language);
  config.displayName = std::string(kind.displayName);
  if (!kind.tool.empty() && kind.type != ProjectType::Unknown) config.tools = {config.buildTool};
  setBuildText(config, kind.build);
  config.clean.command = std::string(kind.clean);
  if (!config.clean.command.empty()) config.clean.tools = config.tools;
  joinCommand(config);
  return config;
}

BuildConfig planBuild(const PlanRequest& request) {
  const Folder folder(request.folder);
  const ProjectType type = request.type;
  BuildConfig config = configFromTable(type);
  if (!request.marker.empty()) config.evidence.push_back(request.marker);
  // Maven decided by a Gradle file: the pom.xml beside it decided as much.
  if (type == ProjectType::Maven && !request.marker.empty() && request.marker != "pom.xml") {
    config.evidence.emplace_back("pom.xml");
  }
  switch (type) {
    case ProjectType::Npm:
    case ProjectType::Pnpm:
    case ProjectType::Yarn:
    case ProjectType::Bun: planJavaScript(config, folder, request); break;
    case ProjectType::Pip:
    case ProjectType::Uv:
    case ProjectType::Poetry: planPython(config, folder, request); break;
    case ProjectType::Autotools:
      planAutotools(config, folder);
      keepCleanOnlyIfDefined(config, folder);
      break;
    case ProjectType::Make: keepCleanOnlyIfDefined(config, folder); break;
    case ProjectType::Meson:
      // Configured already: compiling reconfigures by itself when meson.build changes.
      if (folder.hasFile("build/meson-private/coredata.dat")) config.setupStep.clear();
      break;
    default: break;
  }
  useWrapper(config, kindOf(config.projectType), folder);
  if (config.clean.command.empty()) config.clean.tools.clear();
  joinCommand(config);
  return config;
}

std::string commandWith(const BuildConfig& config, const std::string& flags,
                        const std::string& arguments) {
  if ((flags.empty() && arguments.empty()) || config.buildStep.empty()) return config.buildCommand;
  std::string inserted;
  if (!flags.empty()) inserted += " " + flags;
  if (!arguments.empty() && !config.argumentPrefix.empty()) inserted += " " + config.argumentPrefix;
  if (!arguments.empty()) inserted += " " + arguments;
  std::string step = config.buildStep;
  step.insert(config.argumentsAt == std::string::npos ? step.size() : config.argumentsAt, inserted);
  return config.setupStep.empty() ? step : config.setupStep + " && " + step;
}

}  // namespace quarn
