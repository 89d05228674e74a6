#include "project/planner.hpp"

#include <algorithm>
#include <utility>

#include "platform/environment.hpp"
#include "project/folder.hpp"

namespace quarn {

namespace {

bool windows() { return platform::kCommandDialect == platform::CommandDialect::WindowsCmd; }

// The project's own script in place of the tool, in the build and test steps alike.
void useWrapper(BuildConfig& config, const Folder& folder) {
  const Wrapper& wrapper = config.kind->wrapper;
  if (wrapper.posix.empty()) return;
  const std::string script(windows() ? wrapper.windows : wrapper.posix);
  if (!folder.hasProgram(script)) return;
  const std::string invocation = windows() ? script : "./" + script;
  for (Command* command : {&config.build, &config.test.command}) {
    const size_t space = command->step.find(' ');
    if (space == std::string::npos) continue;
    command->step = invocation + command->step.substr(space);
    if (command->argumentsAt != std::string::npos) {
      command->argumentsAt = command->argumentsAt - space + invocation.size();
    }
  }
  config.buildTool = std::string(wrapper.needs->name);
  config.tools = {config.buildTool};
  config.test.tools = config.tools;
  addEvidence(config, script);
}

}  // namespace

void addEvidence(BuildConfig& config, const std::string& file) {
  if (std::find(config.evidence.begin(), config.evidence.end(), file) == config.evidence.end()) {
    config.evidence.push_back(file);
  }
}

BuildConfig configFromTable(const Kind& kind) {
  BuildConfig config;
  config.kind = &kind;
  config.projectType = kind.type;
  config.buildTool = kind.tools.empty() ? std::string(kind.name == "custom" ? "" : "unknown")
                                        : std::string(kind.tools.front()->name);
  config.language = std::string(kind.language);
  config.displayName = std::string(kind.displayName);
  for (const Tool* tool : kind.tools) config.tools.emplace_back(tool->name);
  config.build = kind.build.plan();
  config.buildCommand = config.build.line();
  config.note = std::string(kind.note);
  config.clean.command = kind.clean.plan().line();
  if (!config.clean.command.empty()) config.clean.tools = config.tools;
  for (std::string_view folder : kind.outputs) config.clean.folders.emplace_back(folder);
  config.test.command = kind.test.plan();
  if (!config.test.command.empty()) {
    config.test.tools = config.tools;
    if (!kind.testTools.empty()) config.test.tools.clear();
    for (const Tool* tool : kind.testTools) config.test.tools.emplace_back(tool->name);
  }
  return config;
}

BuildConfig planBuild(const PlanRequest& request) {
  const Kind& kind = request.kind != nullptr ? *request.kind : unknownKind();
  const Folder folder(request.folder, *request.environment);
  BuildConfig config = configFromTable(kind);
  if (!request.marker.empty()) addEvidence(config, request.marker);
  // Decided by a Gradle file: the pom.xml beside it decided as much.
  if (kind.type == ProjectType::Maven && !request.marker.empty()) addEvidence(config, "pom.xml");
  if (kind.rule != nullptr) kind.rule(config, folder, request.chosen);
  useWrapper(config, folder);
  if (config.clean.command.empty()) config.clean.tools.clear();
  // Where the tests need the project built, the plan that builds it comes first.
  if (config.kind->testBuildsFirst && !config.test.command.empty()) {
    const std::string build = config.build.line();
    Command& test = config.test.command;
    if (!build.empty()) test.setup = test.setup.empty() ? build : build + " && " + test.setup;
    for (const std::string& tool : config.tools) {
      if (std::find(config.test.tools.begin(), config.test.tools.end(), tool) ==
          config.test.tools.end()) {
        config.test.tools.push_back(tool);
      }
    }
  }
  config.buildCommand = config.build.line();
  return config;
}

}  // namespace quarn
