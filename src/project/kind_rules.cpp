#include "project/kind_rules.hpp"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>
#include <system_error>
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

// What a "packageManager" field says ("pnpm@9.1.1+sha512.abc"): the manager, and the version it
// pins with its major number; no version when none follows the name.
struct ManagerField {
  const Kind* kind = nullptr;
  std::string version;
  int major = 0;
};

ManagerField readManagerField(const std::string& field) {
  ManagerField result;
  const size_t at = field.find('@');
  result.kind = kindNamed(field.substr(0, at));
  if (!isJavaScriptManager(result.kind)) return {};
  if (at == std::string::npos) return result;
  // The version runs to the hash corepack may add after a "+".
  const std::string version = field.substr(at + 1, field.find('+', at) - at - 1);
  if (version.empty() || version[0] < '0' || version[0] > '9') return result;
  result.version = version;
  for (size_t i = 0;
       i < version.size() && version[i] >= '0' && version[i] <= '9' && result.major < 1000; ++i) {
    result.major = result.major * 10 + (version[i] - '0');
  }
  return result;
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
  if (manager.name == "bun") return locked ? "bun install --frozen-lockfile" : "bun install";
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

bool isFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

// "python3.11", "python3.13t": the name of an interpreter and of its library folder.
bool isVersionedPython(const std::string& name) {
  const std::string_view prefix = "python3.";
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  size_t digits = prefix.size();
  while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9') ++digits;
  return digits > prefix.size() && (digits == name.size() || name.substr(digits) == "t");
}

// The standard library folder of the python3 a build here runs, found from its files as the
// interpreter finds it itself: the program's real path, then lib/python3.N holding os.py (lib64
// on Fedora, where lib holds no os.py) beside the folder it is in. Empty when the files cannot
// tell, so that nothing runs to find out: no python3, a version manager's shim, PYTHONHOME set,
// Windows. A virtual environment's interpreter (pyvenv.cfg beside it or above) has none of its own
// to manage.
std::string pythonStandardLibrary(const Folder& folder) {
  if (windows() || folder.environment().isSet("PYTHONHOME")) return {};
  const std::string program = folder.locate("python3");
  if (program.empty()) return {};
  const fs::path bin = fs::path(program).parent_path();
  if (isFile(bin / "pyvenv.cfg") || isFile(bin.parent_path() / "pyvenv.cfg")) return {};
  std::error_code error;
  const fs::path real = fs::canonical(program, error);
  if (error) return {};
  const fs::path prefix = real.parent_path().parent_path();
  const std::string name = real.filename().string();
  for (const char* lib : {"lib", "lib64"}) {
    const fs::path libraries = prefix / lib;
    std::vector<fs::path> found;
    if (isVersionedPython(name)) {
      if (isFile(libraries / name / "os.py")) found.push_back(libraries / name);
    } else {
      // A program called python3 itself: the one library of a python3 there.
      for (const std::string& entry : Folder(libraries.string()).entries()) {
        if (isVersionedPython(entry) && isFile(libraries / entry / "os.py")) {
          found.push_back(libraries / entry);
        }
      }
    }
    if (!found.empty()) return found.size() == 1 ? found.front().string() : std::string();
  }
  return {};
}

bool isLower(char c) { return c >= 'a' && c <= 'z'; }
bool isUpper(char c) { return c >= 'A' && c <= 'Z'; }
// A character of an Elixir name, the trailing ? and ! included.
bool isNameChar(char c) {
  return isLower(c) || isUpper(c) || (c >= '0' && c <= '9') || c == '_' || c == '?' || c == '!';
}

// `source` with what is not code blanked out: comments and the text of strings, charlists and
// sigils, the code interpolated into them kept. Enough to find definitions and keywords in a
// mix.exs without evaluating any Elixir.
class ElixirCode {
 public:
  explicit ElixirCode(std::string source) : code_(std::move(source)) { code(false, 0); }
  const std::string& text() const { return code_; }

 private:
  static constexpr int kMaxDepth = 32;  // interpolations within strings within interpolations

  bool at(std::string_view text) const { return code_.compare(i_, text.size(), text) == 0; }
  void blank(size_t count) {
    for (size_t end = std::min(i_ + count, code_.size()); i_ < end; ++i_) {
      if (code_[i_] != '\n') code_[i_] = ' ';
    }
  }

  // Code up to the end, or inside an interpolation to its closing brace.
  void code(bool interpolated, int depth) {
    int braces = 0;
    while (i_ < code_.size()) {
      const char c = code_[i_];
      if (interpolated && c == '{') ++braces;
      if (interpolated && c == '}' && braces-- == 0) return;
      if (c == '#') {
        blank(code_.find('\n', i_) - i_);
      } else if (c == '"' || c == '\'') {
        const std::string close(at(std::string(3, c)) ? 3 : 1, c);
        i_ += close.size();
        quoted(close, true, depth);
      } else if (c == '?' && (i_ == 0 || !isNameChar(code_[i_ - 1]))) {
        ++i_;  // a character: ?" or ?# or ?\n
        blank(i_ < code_.size() && code_[i_] == '\\' ? 2 : 1);
      } else if (c == '~' && i_ + 1 < code_.size() &&
                 (isLower(code_[i_ + 1]) || isUpper(code_[i_ + 1]))) {
        sigil(depth);
      } else {
        ++i_;
      }
    }
  }

  // ~r/.../, ~S(...), ~w[...], ~s"""...""": interpolating only when lower case.
  void sigil(int depth) {
    size_t name = i_ + 1;
    const bool lower = isLower(code_[name]);
    if (lower) {
      ++name;
    } else {
      while (name < code_.size() && isUpper(code_[name])) ++name;
    }
    const std::string_view opening = "/|\"'([{<";
    const std::string_view closing = "/|\"')]}>";
    const size_t which = name < code_.size() ? opening.find(code_[name]) : std::string_view::npos;
    if (which == std::string_view::npos) {
      i_ = name;
      return;
    }
    i_ = name;
    const char delimiter = code_[i_];
    std::string close(1, closing[which]);
    if ((delimiter == '"' || delimiter == '\'') && at(std::string(3, delimiter))) {
      close.assign(3, delimiter);
    }
    i_ += close.size();
    quoted(close, lower, depth);
  }

  void quoted(const std::string& close, bool interpolates, int depth) {
    while (i_ < code_.size()) {
      if (code_[i_] == '\\') {
        blank(2);
      } else if (at(close)) {
        i_ += close.size();
        return;
      } else if (interpolates && at("#{") && depth < kMaxDepth) {
        i_ += 2;
        code(true, depth + 1);
        if (i_ < code_.size()) ++i_;  // the closing brace
      } else {
        blank(1);
      }
    }
  }

  std::string code_;
  size_t i_ = 0;
};

size_t skipSpace(const std::string& code, size_t at, bool lines) {
  while (at < code.size() &&
         (code[at] == ' ' || code[at] == '\t' || code[at] == '\r' || (lines && code[at] == '\n'))) {
    ++at;
  }
  return at;
}

// Whether the word `word` stands at `at`, a whole name.
bool wordAt(const std::string& code, size_t at, std::string_view word) {
  return code.compare(at, word.size(), word) == 0 && (at == 0 || !isNameChar(code[at - 1])) &&
         (at + word.size() >= code.size() || !isNameChar(code[at + word.size()]));
}

// Whether the value at `at` may be a non-empty list: anything but a literal [] that nothing is
// added to.
bool mayHoldItems(const std::string& code, size_t at) {
  at = skipSpace(code, at, true);
  if (at >= code.size() || code[at] != '[') return true;
  at = skipSpace(code, at + 1, true);
  if (at >= code.size() || code[at] != ']') return true;
  at = skipSpace(code, at + 1, true);
  return code.compare(at, 2, "++") == 0 || code.compare(at, 2, "|>") == 0;
}

// Where the body of the definition whose name ends at `at` begins ("() do", ", do:"), or npos
// for a form not read here (guards, defaults, several lines).
size_t bodyOfDefinition(const std::string& code, size_t at) {
  at = skipSpace(code, at, false);
  if (at < code.size() && code[at] == '(') {
    int depth = 0;
    for (; at < code.size(); ++at) {
      if (code[at] == '(') ++depth;
      if (code[at] == ')' && --depth == 0) break;
    }
    if (at >= code.size()) return std::string::npos;
    at = skipSpace(code, at + 1, false);
  }
  if (wordAt(code, at, "do")) return at + 2;
  if (at < code.size() && code[at] == ',') {
    at = skipSpace(code, at + 1, true);
    if (code.compare(at, 3, "do:") == 0) return at + 3;
  }
  return std::string::npos;
}

// Whether a mix.exs declares dependencies: a deps function (def or defp) or a deps: keyword
// whose list may hold any. A form not read here counts as declaring some: fetching none costs
// little, building without them fails.
bool declaresMixDependencies(const std::string& source) {
  const std::string code = ElixirCode(source).text();
  bool defined = false;
  bool referred = false;
  for (size_t at = code.find("def"); at != std::string::npos; at = code.find("def", at + 3)) {
    size_t name = at + 3;
    if (name < code.size() && code[name] == 'p') ++name;
    if (!wordAt(code, at, std::string_view(code).substr(at, name - at))) continue;
    name = skipSpace(code, name, false);
    if (!wordAt(code, name, "deps")) continue;
    defined = true;
    const size_t body = bodyOfDefinition(code, name + 4);
    if (body == std::string::npos || mayHoldItems(code, body)) return true;
  }
  for (size_t at = code.find("deps:"); at != std::string::npos; at = code.find("deps:", at + 5)) {
    if ((at > 0 && (isNameChar(code[at - 1]) || code[at - 1] == ':')) || at + 5 >= code.size() ||
        (code[at + 5] != ' ' && code[at + 5] != '\n' && code[at + 5] != '\t')) {
      continue;  // an atom, a longer name, or no keyword
    }
    const size_t value = skipSpace(code, at + 5, true);
    if (wordAt(code, value, "deps")) {
      referred = true;
    } else if (mayHoldItems(code, value)) {
      return true;
    }
  }
  return referred && !defined;
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

// `text` without blanks and quotes: "sdk: 'flutter'" and "{ sdk: flutter }" read alike.
std::string squeezed(std::string_view text) {
  std::string result;
  for (const char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '"' && c != '\'') result += c;
  }
  return result;
}

// Whether a pubspec's dependencies hold the Flutter SDK: "flutter:" with "sdk: flutter" below it,
// or "flutter: {sdk: flutter}". A scan of the block YAML that pubspecs are written in.
bool dependsOnFlutter(const std::string& pubspec) {
  bool inDependencies = false;
  size_t entryIndent = std::string::npos;    // of the dependencies' names
  size_t flutterIndent = std::string::npos;  // of "flutter:", while below it
  size_t start = 0;
  while (start < pubspec.size()) {
    size_t end = pubspec.find('\n', start);
    if (end == std::string::npos) end = pubspec.size();
    std::string_view line(pubspec.data() + start, end - start);
    start = end + 1;
    line = line.substr(0, line.find(" #"));
    const size_t indent = line.find_first_not_of(' ');
    if (indent == std::string_view::npos || line[indent] == '#') continue;
    const std::string text = squeezed(line.substr(indent));
    if (text.empty()) continue;
    if (indent == 0) {
      inDependencies = text == "dependencies:";
      entryIndent = flutterIndent = std::string::npos;
      continue;
    }
    if (!inDependencies) continue;
    entryIndent = std::min(entryIndent, indent);
    if (indent > entryIndent) {
      if (flutterIndent != std::string::npos && text == "sdk:flutter") return true;
      continue;
    }
    flutterIndent = std::string::npos;
    if (text.rfind("flutter:", 0) != 0) continue;
    if (text.size() > 8) return text.substr(8) == "{sdk:flutter}";
    flutterIndent = indent;
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
  bool test = false;
  bool check = false;
};

MakefileTargets makefileTargets(const Folder& folder) {
  using Status = platform::FileText::Status;
  constexpr std::size_t kMakefileLimit = std::size_t{4} << 20;
  for (const char* name : {"GNUmakefile", "makefile", "Makefile"}) {
    const platform::FileText file = platform::readRegularFile(folder.at(name), kMakefileLimit);
    if (file.status == Status::Missing || file.status == Status::LinkToNothing) continue;
    if (file.status != Status::Read) break;
    return {true, definesTarget(file.text, "test"), definesTarget(file.text, "check")};
  }
  return {};
}

// The interpreter of the project's virtual environment `venv`, whose pip builds, runs the tests.
void testInVirtualEnvironment(BuildConfig& config, const Folder& folder, const std::string& venv) {
  const std::string python = windows() ? venv + "\\Scripts\\python.exe" : venv + "/bin/python3";
  if (!folder.hasProgram(python) || config.test.command.empty()) return;
  config.test.command.step = python + " -m unittest";
  config.test.tools = {python};
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

const Kind* builtWithCabal(const Kind& /*own*/, const Folder& /*folder*/,
                           std::string_view /*entry*/) {
  return kindNamed("cabal");
}

void planJavaScript(BuildConfig& config, const Folder& folder, bool chosen) {
  const PackageJson package = readPackageJson(folder.at("package.json"));
  if (!package.isObject) {
    config.clean.command.clear();  // no clean script is known
    return;                        // the manager will say what is wrong with the file
  }
  const ManagerField field =
      package.packageManager ? readManagerField(*package.packageManager) : ManagerField{};
  const Kind* manager = chosen ? config.kind : nullptr;
  if (manager == nullptr && field.kind != nullptr) {
    manager = field.kind;
    addEvidence(config, "package.json");
  }
  const std::vector<std::string> folders = lockfileFolders(folder.path());
  if (manager == nullptr) {
    const Lockfile nearest = findLockfile(folder, folders, nullptr);
    manager = nearest.manager == nullptr ? kindNamed("npm") : nearest.manager;
  }
  const Lockfile lockfile = findLockfile(folder, folders, manager);
  if (!lockfile.name.empty()) {
    addEvidence(config, relativeTo(folder.path(), lockfile.folder, lockfile.name));
  }
  if (manager != config.kind) becomeKind(config, *manager);
  const bool pinned = field.kind == manager && !field.version.empty();
  if (pinned) config.pinned = PinnedTool{std::string(manager->name), field.version, "package.json"};

  std::string install;
  const bool installed =
      folder.hasFolder("node_modules") ||
      (!lockfile.folder.empty() && Folder(lockfile.folder).hasFolder("node_modules"));
  if (package.declaresDependencies && !installed) {
    const bool locked = !lockfile.name.empty();
    const bool berry = (field.kind == manager && field.major >= 2) ||
                       folder.hasFile(".yarnrc.yml") ||
                       (locked && Folder(lockfile.folder).hasFile(".yarnrc.yml"));
    install = installCommand(*manager, locked, berry);
  }
  config.build.setup = install;
  // The tests need the dependencies as much as the build does.
  if (!config.test.command.empty()) config.test.command.setup = install;
  if (package.hasScripts && !package.hasBuildScript) {
    config.build.step.clear();
    config.note = "package.json has no build script";
  }
  if (!package.hasCleanScript) config.clean.command.clear();
  // Without a test script, or with the one that says there is none, there are no tests.
  if (!package.hasTestScript || isPlaceholderTest(package.testScript)) config.test = TestStep{};
}

namespace {

// The Python build: the manager by its lockfile, the project's environment, or one made first.
void planPythonBuild(BuildConfig& config, const Folder& folder, bool chosen) {
  if (!chosen) {
    for (const auto& [lockfile, name] :
         {std::pair{"uv.lock", "uv"}, std::pair{"poetry.lock", "poetry"}}) {
      if (folder.hasFile(lockfile)) {
        becomeKind(config, *kindNamed(name));
        addEvidence(config, lockfile);
        return;
      }
    }
  }
  if (config.kind->name != "pip") return;
  if (folder.environment().isSet("VIRTUAL_ENV")) return;
  for (const char* venv : {".venv", "venv"}) {
    const std::string pip =
        windows() ? std::string(venv) + "\\Scripts\\pip.exe" : std::string(venv) + "/bin/pip";
    if (folder.hasProgram(pip)) {
      config.buildTool = pip;
      config.tools = {pip};
      config.build.step = pip + " install -e .";
      addEvidence(config, pip);
      testInVirtualEnvironment(config, folder, venv);
      return;
    }
  }
  // pip refuses to install into an interpreter its distribution manages (PEP 668): the project
  // gets an environment of its own first, as uv and Poetry make theirs.
  const std::string stdlib = pythonStandardLibrary(folder);
  if (stdlib.empty()) return;
  const Folder library(stdlib, folder.environment());
  if (!library.hasFile("EXTERNALLY-MANAGED")) return;
  config.buildTool = "python3";
  config.tools = {config.buildTool};
  // Debian and Ubuntu ship venv's way of putting pip into the environment apart.
  if (!library.hasFile("ensurepip/__init__.py")) config.tools.emplace_back("python3-venv");
  config.build.setup = "python3 -m venv .venv";
  config.build.step = ".venv/bin/pip install -e .";
  addEvidence(config, library.at("EXTERNALLY-MANAGED"));
}

// make clean where a makefile make can read defines it, and make asked before it runs.
void planMakeClean(BuildConfig& config, const Folder& folder) {
  using Status = platform::FileText::Status;
  constexpr std::size_t kMakefileLimit = std::size_t{4} << 20;
  const std::string makeClean = config.clean.command;
  for (const char* name : {"GNUmakefile", "makefile", "Makefile"}) {
    const platform::FileText file = platform::readRegularFile(folder.at(name), kMakefileLimit);
    // Make passes over a link to nothing as over no file at all.
    if (file.status == Status::Missing || file.status == Status::LinkToNothing) continue;
    // A makefile make can read: make decides when the step runs (conditionals, includes).
    if (file.status == Status::Read || file.status == Status::TooLarge) {
      config.clean.makeTarget = "clean";
      config.clean.makeCommand = makeClean;
    }
    if (file.status == Status::Read && definesTarget(file.text, "clean")) return;
    break;
  }
  config.clean.command.clear();
}

}  // namespace

void planPython(BuildConfig& config, const Folder& folder, bool chosen) {
  planPythonBuild(config, folder, chosen);
  // pytest where the project configures it, else the standard library's unittest.
  if (configuresPytest(folder)) usePytest(config.test.command);
}

void planAutotools(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  // Its tests are make check whatever the makefile configure made says.
  planMakeClean(config, folder);
  if (folder.hasProgram("configure")) {
    if (windows()) config.build.setup = "sh ./configure";
    return;
  }
  const std::string configure = windows() ? "sh ./configure" : "./configure";
  if (folder.hasFile("autogen.sh")) {
    config.build.setup = "sh autogen.sh && " + configure;
    addEvidence(config, "autogen.sh");
  } else {
    config.build.setup = "autoreconf -fi && " + configure;
  }
  config.tools = {"make", "autoreconf"};
}

void planMake(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  planMakeClean(config, folder);
  // make test where the makefile defines it, else make check; a makefile that cannot be read
  // keeps make test, and make says what is wrong with it.
  const MakefileTargets targets = makefileTargets(folder);
  if (!targets.read || targets.test) return;
  if (targets.check) {
    config.test.command.step = "make check";
  } else {
    config.test = TestStep{};
  }
}

void planMix(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  // Fetched already (MIX_DEPS_PATH moves them elsewhere).
  const std::string fetched = folder.environment().variable("MIX_DEPS_PATH").value_or("deps");
  if (folder.hasFolder(fetched.empty() ? "deps" : fetched)) return;
  if (folder.hasFile("mix.lock")) {
    addEvidence(config, "mix.lock");
  } else {
    const std::optional<std::string> manifest = folder.read("mix.exs");
    if (!manifest || !declaresMixDependencies(*manifest)) return;
    addEvidence(config, "mix.exs");
  }
  config.build.setup = "mix deps.get";
  if (!config.test.command.empty()) config.test.command.setup = config.build.setup;
}

void planMeson(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  // Configured already: compiling reconfigures by itself when meson.build changes.
  if (folder.hasFile("build/meson-private/coredata.dat")) config.build.setup.clear();
}

void planDeno(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  // Deno reads deno.json before deno.jsonc.
  const std::string manifest = folder.hasFile("deno.json") ? "deno.json" : "deno.jsonc";
  const std::optional<std::vector<std::string>> tasks =
      readManifestKeys(folder.at(manifest), "tasks");
  if (!tasks) return;  // deno says what is wrong with the file
  const auto has = [&tasks](const char* task) {
    return std::find(tasks->begin(), tasks->end(), task) != tasks->end();
  };
  // A test task holds the permissions and flags the tests need.
  if (has("test")) config.test.command.step = "deno task test";
  if (has("build")) return;
  config.build = Command{};
  config.build.setup = "deno install";
  config.note = manifest + " has no build task";
}

void planBazel(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  if (!folder.locate("bazel").empty() || folder.locate("bazelisk").empty()) return;
  const std::string bazel = "bazel ";
  const std::string bazelisk = "bazelisk ";
  for (Command* command : {&config.build, &config.test.command}) {
    if (command->step.compare(0, bazel.size(), bazel) != 0) continue;
    command->step.replace(0, bazel.size(), bazelisk);
    if (command->argumentsAt != std::string::npos) {
      command->argumentsAt += bazelisk.size() - bazel.size();
    }
  }
  if (config.clean.command.compare(0, bazel.size(), bazel) == 0) {
    config.clean.command.replace(0, bazel.size(), bazelisk);
  }
  config.buildTool = "bazelisk";
  config.tools = {config.buildTool};
  config.clean.tools = config.tools;
  config.test.tools = config.tools;
}

void planPhp(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  const std::optional<std::vector<std::string>> scripts =
      readManifestKeys(folder.at("composer.json"), "scripts");
  if (!scripts || std::find(scripts->begin(), scripts->end(), "test") != scripts->end()) return;
  config.test.command.step = windows() ? "vendor\\bin\\phpunit" : "vendor/bin/phpunit";
}

void planRuby(BuildConfig& config, const Folder& folder, bool /*chosen*/) {
  if (folder.hasFolder("spec")) config.test.command.step = "bundle exec rspec";
}

void planDart(BuildConfig& config, const Folder& folder, bool chosen) {
  if (chosen) return;
  const std::optional<std::string> pubspec = folder.read("pubspec.yaml");
  if (pubspec && dependsOnFlutter(*pubspec)) becomeKind(config, *kindNamed("flutter"));
}

}  // namespace quarn::rules
