#include "project/kind_rules.hpp"

#include <filesystem>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/environment.hpp"
#include "platform/files.hpp"
#include "project/folder.hpp"
#include "project/makefile.hpp"
#include "project/package_json.hpp"
#include "project/planner.hpp"
#include "project/work_tree.hpp"

namespace quarn::rules {

namespace fs = std::filesystem;

namespace {

bool windows() { return platform::kCommandDialect == platform::CommandDialect::WindowsCmd; }

// Replaces the plan by the one of `kind`, keeping the evidence found so far.
void becomeKind(BuildConfig& config, const Kind& kind) {
  std::vector<std::string> evidence = std::move(config.evidence);
  config = configFromTable(kind);
  config.evidence = std::move(evidence);
}

// The folders a lockfile is looked for in: the project's, then its parents up to the root of the
// work tree it lies in.
std::vector<std::string> lockfileFolders(const std::string& folder) {
  std::vector<std::string> folders{folder};
  const WorkTree tree = findWorkTree(folder);
  if (tree.system == WorkTree::System::None) return folders;
  fs::path current = fs::u8path(absoluteFolder(folder));
  while (current.u8string() != tree.root && current.has_relative_path()) {
    current = current.parent_path();
    folders.push_back(current.u8string());
  }
  return folders;
}

struct Lockfile {
  const Kind* manager = nullptr;
  std::string folder;
  std::string name;
};

// The nearest lockfile of any package manager, or of `only` when it is not null.
Lockfile findLockfile(const Folder& project, const std::vector<std::string>& folders,
                      const Kind* only) {
  const std::pair<const char*, const char*> kLockfiles[] = {
      {"pnpm-lock.yaml", "pnpm"}, {"yarn.lock", "yarn"},        {"bun.lock", "bun"},
      {"bun.lockb", "bun"},       {"package-lock.json", "npm"}, {"npm-shrinkwrap.json", "npm"},
  };
  for (const std::string& folder : folders) {
    const Folder here(folder, project.environment());
    for (const auto& [name, manager] : kLockfiles) {
      const Kind* kind = kindNamed(manager);
      if ((only == nullptr || only == kind) && here.hasFile(name)) return {kind, folder, name};
    }
  }
  return {};
}

bool isJavaScriptManager(const Kind* kind) {
  return kind != nullptr && kind->rule == planJavaScript;
}

// The manager a "packageManager" field names ("pnpm@9.1.0"), with its major version.
std::pair<const Kind*, int> namedManager(const std::string& field) {
  const size_t at = field.find('@');
  const Kind* kind = kindNamed(field.substr(0, at));
  if (!isJavaScriptManager(kind)) return {nullptr, 0};
  int major = 0;
  for (size_t i = at == std::string::npos ? field.size() : at + 1;
       i < field.size() && field[i] >= '0' && field[i] <= '9' && major < 1000; ++i) {
    major = major * 10 + (field[i] - '0');
  }
  return {kind, major};
}

std::string relativeTo(const std::string& folder, const std::string& inner,
                       const std::string& name) {
  if (inner == folder) return name;
  const fs::path relative =
      fs::u8path(inner).lexically_relative(fs::u8path(absoluteFolder(folder))) / fs::u8path(name);
  return relative.u8string();
}

// The install command of `manager` for a clean checkout.
std::string installCommand(const Kind& manager, bool locked, bool berry) {
  if (manager.name == "pnpm") return locked ? "pnpm install --frozen-lockfile" : "pnpm install";
  if (manager.name == "yarn") {
    if (!locked) return "yarn install";
    return berry ? "yarn install --immutable" : "yarn install --frozen-lockfile";
  }
  if (manager.name == "bun") return "bun install";
  return locked ? "npm ci" : "npm install";
}

// The project files a solution lists: the second quoted text of each Project(...) line.
std::vector<std::string> solutionProjects(const std::string& text) {
  std::vector<std::string> projects;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line.compare(first, 8, "Project(") != 0) continue;
    const size_t equals = line.find('=', first);
    if (equals == std::string_view::npos) continue;
    // = "Name", "path\to\project.vcxproj", "{GUID}"
    size_t quote = equals;
    std::string_view fields[2];
    for (std::string_view& field : fields) {
      const size_t open = line.find('"', quote + 1);
      const size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
      if (close == std::string_view::npos) break;
      field = line.substr(open + 1, close - open - 1);
      quote = close;
    }
    if (!fields[1].empty()) projects.emplace_back(fields[1]);
  }
  return projects;
}

bool endsWithIgnoringCase(const std::string& text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    char c = text[text.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

// Whether a solution lists projects, every one of them C or C++. Solution folders (entries
// without a project file's extension) do not count.
bool onlyNativeProjects(const std::string& solution) {
  bool any = false;
  for (const std::string& project : solutionProjects(solution)) {
    if (endsWithIgnoringCase(project, ".vcxproj") || endsWithIgnoringCase(project, ".vcproj")) {
      any = true;
    } else if (endsWithIgnoringCase(project, "proj")) {
      return false;
    }
  }
  return any;
}

bool containsSolutionMark(const std::string& name) {
  return name.find(".sln") != std::string::npos || name.find(".SLN") != std::string::npos;
}

// The test script `npm init` writes: it fails by design, and says there are no tests.
bool isPlaceholderTest(const std::string& script) {
  const size_t start = script.find_first_not_of(" \t\r\n");
  const size_t end = script.find_last_not_of(" \t\r\n");
  return start != std::string::npos &&
         script.compare(start, end + 1 - start, "echo \"Error: no test specified\" && exit 1") == 0;
}

// Whether a TOML or INI text holds the section `header` ("[pytest]"), spaces and a comment on its
// line aside.
bool hasSection(const std::string& text, std::string_view header) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line;
    for (size_t i = start; i < end && text[i] != '#' && text[i] != ';'; ++i) {
      if (text[i] != ' ' && text[i] != '\t' && text[i] != '\r') line += text[i];
    }
    if (line == header) return true;
    start = end + 1;
  }
  return false;
}

// Whether the project configures pytest, in any of the files pytest takes its settings from.
bool configuresPytest(const Folder& folder) {
  for (const char* name : {"pytest.ini", ".pytest.ini", "conftest.py"}) {
    if (folder.hasFile(name)) return true;
  }
  const std::pair<const char*, std::vector<std::string_view>> kSections[] = {
      {"pyproject.toml", {"[tool.pytest.ini_options]", "[tool.pytest]"}},
      {"tox.ini", {"[pytest]"}},
      {"setup.cfg", {"[tool:pytest]"}},
  };
  for (const auto& [name, headers] : kSections) {
    const std::optional<std::string> text = folder.read(name);
    if (!text) continue;
    for (std::string_view header : headers) {
      if (hasSection(*text, header)) return true;
    }
  }
  return false;
}

// pytest in place of unittest: "python3 -m pytest" on the interpreter itself, "uv run pytest"
// through a manager that runs it.
void usePytest(Command& test) {
  const std::string_view unittest = " -m unittest";
  std::string& step = test.step;
  if (step.size() <= unittest.size() ||
      step.compare(step.size() - unittest.size(), unittest.size(), unittest) != 0) {
    return;
  }
  const size_t interpreter = step.rfind(' ', step.size() - unittest.size() - 1);
  if (interpreter == std::string::npos) {
    step.replace(step.size() - unittest.size(), unittest.size(), " -m pytest");
  } else {
    step.replace(interpreter + 1, std::string::npos, "pytest");
  }
}

// What quarn looks for in the project's makefile, found as make finds it.
struct MakefileTargets {
  bool read = false;  // a makefile was there and could be read
  bool clean = false;
  bool test = false;
  bool check = false;
};

MakefileTargets makefileTargets(const Folder& folder) {
  constexpr std::size_t kMakefileLimit = std::size_t{4} << 20;
  for (const char* name : {"GNUmakefile", "makefile", "Makefile"}) {
    const platform::FileText file = platform::readRegularFile(folder.at(name), kMakefileLimit);
    if (file.status == platform::FileText::Status::Missing) continue;
    if (file.status != platform::FileText::Status::Read) break;
    return {true, definesTarget(file.text, "clean"), definesTarget(file.text, "test"),
            definesTarget(file.text, "check")};
  }
  return {};
}

// The project's own virtual environment, when no other is active: its pip builds, its interpreter
// runs the tests.
void useVirtualEnvironment(BuildConfig& config, const Folder& folder) {
  if (folder.environment().isSet("VIRTUAL_ENV")) return;
  for (const char* venv : {".venv", "venv"}) {
    const std::string pip =
        windows() ? std::string(venv) + "\\Scripts\\pip.exe" : std::string(venv) + "/bin/pip";
    if (!folder.hasProgram(pip)) continue;
    config.buildTool = pip;
    config.tools = {pip};
    config.build.step = pip + " install -e .";
    config.evidence.push_back(pip);
    const std::string python = windows() ? std::string(venv) + "\\Scripts\\python.exe"
                                         : std::string(venv) + "/bin/python3";
    if (folder.hasProgram(python)) {
      config.test.command.step = python + " -m unittest";
      config.test.tools = {python};
    }
    return;
  }
}

}  // namespace

const Kind* mavenBesidePom(const Kind& own, const Folder& folder, std::string_view /*entry*/) {
  return folder.hasEntry("pom.xml") ? kindNamed("maven") : &own;
}

const Kind* unlessOnlyNativeSolutions(const Kind& own, const Folder& folder,
                                      std::string_view /*entry*/) {
  // Every entry that counts as a solution must be one of C or C++ projects alone; a solution that
  // cannot be read, or lists none, keeps the .NET answer.
  bool sawOne = false;
  for (const std::string& name : folder.entries()) {
    if (!containsSolutionMark(name)) continue;
    const std::optional<std::string> text = folder.read(name);
    if (!text || !onlyNativeProjects(*text)) return &own;
    sawOne = true;
  }
  return sawOne ? nullptr : &own;
}

void planJavaScript(BuildConfig& config, const Folder& folder, bool chosen) {
  const PackageJson package = readPackageJson(folder.at("package.json"));
  if (!package.isObject) {
    config.clean.command.clear();  // no clean script is known
    return;                        // the manager will say what is wrong with the file
  }
  const Kind* manager = chosen ? config.kind : nullptr;
  int yarnMajor = 0;
  if (manager == nullptr && package.packageManager) {
    std::tie(manager, yarnMajor) = namedManager(*package.packageManager);
    if (manager != nullptr) config.evidence.emplace_back("package.json");
  }
  const std::vector<std::string> folders = lockfileFolders(folder.path());
  if (manager == nullptr) {
    const Lockfile nearest = findLockfile(folder, folders, nullptr);
    manager = nearest.manager == nullptr ? kindNamed("npm") : nearest.manager;
  }
  const Lockfile lockfile = findLockfile(folder, folders, manager);
  if (!lockfile.name.empty()) {
    config.evidence.push_back(relativeTo(folder.path(), lockfile.folder, lockfile.name));
  }
  if (manager != config.kind) becomeKind(config, *manager);

  std::string install;
  const bool installed =
      folder.hasFolder("node_modules") ||
      (!lockfile.folder.empty() && Folder(lockfile.folder).hasFolder("node_modules"));
  if (package.declaresDependencies && !installed) {
    const bool locked = !lockfile.name.empty();
    const bool berry = yarnMajor >= 2 || folder.hasFile(".yarnrc.yml") ||
                       (locked && Folder(lockfile.folder).hasFile(".yarnrc.yml"));
    install = installCommand(*manager, locked, berry);
  }
  config.build.setup = install;
  if (package.hasScripts && !package.hasBuildScript) {
    config.build.step.clear();
    config.note = "package.json has no build script";
  }
  if (!package.hasCleanScript) config.clean.command.clear();
  // The tests need the dependencies as the build does; without a test script there are none.
  config.test.command.setup = install;
  if (!package.hasTestScript || isPlaceholderTest(package.testScript)) config.test = TestStep{};
}

void planPython(BuildConfig& config, const Folder& folder, bool chosen) {
  bool locked = false;
  if (!chosen) {
    for (const auto& [lockfile, name] :
         {std::pair{"uv.lock", "uv"}, std::pair{"poetry.lock", "poetry"}}) {
      if (folder.hasFile(lockfile)) {
        becomeKind(config, *kindNamed(name));
        config.evidence.emplace_back(lockfile);
        locked = true;
        break;
      }
    }
  }
  if (!locked && config.kind->name == "pip") useVirtualEnvironment(config, folder);
  if (configuresPytest(folder)) usePytest(config.test.command);
}

void planAutotools(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  // make clean where the makefile that configure made, when it ran, defines it.
  if (!makefileTargets(folder).clean) config.clean.command.clear();
  if (folder.hasProgram("configure")) {
    if (windows()) config.build.setup = "sh ./configure";
    return;
  }
  const std::string configure = windows() ? "sh ./configure" : "./configure";
  if (folder.hasFile("autogen.sh")) {
    config.build.setup = "sh autogen.sh && " + configure;
    config.evidence.emplace_back("autogen.sh");
  } else {
    config.build.setup = "autoreconf -fi && " + configure;
  }
  config.tools = {"make", "autoreconf"};
}

void planMake(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  const MakefileTargets targets = makefileTargets(folder);
  if (!targets.clean) config.clean.command.clear();
  // A makefile that cannot be read keeps "make test", and make says what is wrong with it.
  if (!targets.read || targets.test) return;
  if (targets.check) {
    config.test.command.step = "make check";
  } else {
    config.test = TestStep{};
  }
}

void planMeson(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  // Configured already: compiling reconfigures by itself when meson.build changes.
  if (folder.hasFile("build/meson-private/coredata.dat")) config.build.setup.clear();
}

}  // namespace quarn::rules
