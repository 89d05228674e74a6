#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "base/exit_status.hpp"
#include "base/logger.hpp"
#include "commands/build_environment.hpp"
#include "commands/clean_step.hpp"
#include "commands/command_runner.hpp"
#include "commands/commands.hpp"
#include "commands/distribution.hpp"
#include "commands/project.hpp"
#include "platform/process.hpp"
#include "platform/signals.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace {

// The opening the build commands share: the project, or nullopt after the error for a folder that
// is not a recognised project. The root found above the current folder is said once.
std::optional<Project> buildableProject(const CommandOptions& options) {
  std::optional<Project> project = findProject(options);
  if (!project) {
    Logger::get()->error("Could not detect project type");
    logProjectsBelow(options);
    return std::nullopt;
  }
  if (project->rootFound) {
    Logger::get()->info(fmt::format("Project root: {}", project->folder));
  }
  return project;
}

// Whether the step can take the arguments passed after "--"; says why not before anything runs.
bool argumentsFit(const Command& step, const CommandOptions& options) {
  const std::string& refusal = step.argumentsRefused;
  if (options.buildArguments.empty() || refusal.empty()) return true;
  Logger::get()->error(refusal);
  return false;
}

// The tools the build needs and, with `forClean`, those of the clean step too, each once.
std::vector<std::string> neededTools(const BuildConfig& config, bool forClean) {
  std::vector<std::string> tools = config.tools;
  if (forClean) {
    for (const std::string& tool : config.clean.tools) {
      if (std::find(tools.begin(), tools.end(), tool) == tools.end()) tools.push_back(tool);
    }
  }
  return tools;
}

std::string quotedArguments(const std::vector<std::string>& arguments) {
  std::string text;
  for (const std::string& argument : arguments) {
    if (!text.empty()) text += ' ';
    text += platform::quoteArgument(argument);
  }
  return text;
}

std::string describe(const BuildEnvironment& environment) {
  std::string text;
  for (const auto& [name, value] : environment.variables) {
    text += (text.empty() ? "" : " ") + name + "=" + platform::quoteArgument(value);
  }
  return text;
}

// Warns, before the build, when the installed tool is of another major version than the one the
// project pins: the build may then fail deep inside, and this says why. The build goes on.
void warnOfPinnedVersion(const Project& project, const ToolRegistry& registry) {
  const PinnedTool* pin = pinnedTool(project.config);
  if (pin == nullptr) return;
  const std::string warning = pinWarning(*pin, registry.getVersion(pin->tool, project.folder));
  if (!warning.empty()) Logger::get()->warn(warning);
}

// One step a command runs in the project, and the words it is spoken of in.
struct Step {
  std::vector<std::string> tools;  // checked first
  std::string command;             // flags and arguments in; empty: nothing to run
  BuildEnvironment environment;
  const char* running;      // "Building with: {}"
  const char* cannotStart;  // "Could not start the build: {}"
  const char* success;      // with the whole seconds
  const char* failure;
  std::string note;  // said after the step succeeded
  // Fills `environment` and `command` once the tools are there: the build first asks its hosts.
  std::function<void(Step&)> prepare;
};

// Logs the verdict of a step from its status and the time it took; returns the exit status.
int verdict(const Step& step, const platform::ProcessStatus& status,
            std::chrono::steady_clock::time_point start) {
  const std::int64_t seconds = elapsedWholeSeconds(start, std::chrono::steady_clock::now());
  if (status.status == 0) {
    Logger::outcome()->info(fmt::format(fmt::runtime(step.success), seconds));
    return kExitSuccess;
  }
  if (status.status < 0) {
    Logger::get()->error(fmt::format(fmt::runtime(step.cannotStart), status.startError));
  }
  Logger::outcome()->error(fmt::format(fmt::runtime(step.failure), seconds));
  // A stop signal, when quarn received one, decides how quarn ends (cli::run); the step's own
  // status of 130 is no sign of one.
  return kExitFailure;
}

// How the build's compiles are spread over distcc hosts: the plan, its remarks said, and the
// hosts checked when distcc can enter the build; one line names those that do not answer.
Distribution spreadPlan(const Project& project, const CommandOptions& options) {
  const auto logger = Logger::get();
  Distribution plan = planDistribution(project, options);
  for (const Remark& remark : plan.remarks) {
    if (remark.warning) {
      logger->warn(remark.text);
    } else {
      logger->info(remark.text);
    }
  }
  if (!plan.possible) return plan;
  Cluster& cluster = *plan.cluster;
  checkHosts(cluster);
  std::string silent;
  for (const std::string& host : cluster.unreachable())
    silent += (silent.empty() ? "" : ", ") + host;
  if (cluster.usable().empty()) {
    logger->warn(fmt::format("No distcc host answers ({}): building on this machine", silent));
  } else if (!silent.empty()) {
    logger->warn(fmt::format("distcc hosts not answering, left out: {}", silent));
  }
  return plan;
}

// Makes the folder DISTCC_DIR names, when it is quarn's; without it distcc keeps its own.
void keepDistccDirectory(BuildEnvironment& environment) {
  auto& variables = environment.variables;
  const auto own = std::find_if(variables.begin(), variables.end(), [](const auto& variable) {
    return variable.first == "DISTCC_DIR";
  });
  if (own == variables.end()) return;
  std::error_code error;
  std::filesystem::create_directories(own->second, error);
  if (!error) return;
  Logger::get()->warn(
      fmt::format("Could not create distcc's folder '{}': {}", own->second, error.message()));
  variables.erase(own);
}

// Checks the step's tools, then runs it in the project folder with the tool's output between
// blank lines, and logs the verdict; a dry run stops before running. Returns the exit status.
int runStep(const CommandOptions& options, const Project& project, const Step& step) {
  const auto logger = Logger::get();
  const ToolRegistry registry(step.tools);
  const std::vector<std::string> missing = registry.getMissingTools(step.tools, project.folder);
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(fmt::format("Build tool '{}' is missing, please install it to continue", tool));
      logger->info(fmt::format("Install: {}", registry.getInstallGuide(tool)));
    }
    return kExitFailure;
  }
  for (const std::string& tool : step.tools) {
    logger->info(fmt::format("Build tool '{}' validated", tool));
  }
  if (!options.dryRun) warnOfPinnedVersion(project, registry);
  Step prepared = step;
  if (prepared.prepare) prepared.prepare(prepared);

  const auto start = std::chrono::steady_clock::now();
  platform::ProcessStatus status{0, {}, {}};
  if (!prepared.command.empty()) {
    logger->info(fmt::format(fmt::runtime(prepared.running), prepared.command));
    if (options.dryRun) {
      if (!prepared.environment.variables.empty()) {
        logger->info(fmt::format("Environment: {}", describe(prepared.environment)));
      }
      Logger::outcome()->info("Dry run: nothing was run");
      return kExitSuccess;
    }
    printBlankLine();
    status =
        CommandRunner().run(prepared.command, {}, project.folder, prepared.environment.variables);
    printBlankLine();
  } else if (options.dryRun) {
    Logger::outcome()->info("Dry run: nothing was run");
    return kExitSuccess;
  }
  if (status.status == 0 && !prepared.note.empty()) logger->info(prepared.note);
  return verdict(prepared, status, start);
}

// Builds `project`, found once by the command: rebuild builds the folder it cleaned, even when
// that removed the current folder.
int build(const CommandOptions& options, const Project& project) {
  const BuildConfig& config = project.config;
  Logger::get()->info(fmt::format("Detected: {}", config.displayName));
  Step step{config.tools,
            {},
            {},
            "Building with: {}",
            "Could not start the build: {}",
            "✓ Build successful ({}s)",
            "✗ Build failed ({}s)",
            config.note,
            {}};
  step.prepare = [&options, &project](Step& prepared) {
    const Distribution distribution = spreadPlan(project, options);
    prepared.environment = buildEnvironment(project, options, Environment::system(), &distribution);
    BuildEnvironment& environment = prepared.environment;
    if (!environment.hosts.empty()) {
      const std::string jobs =
          environment.jobs == 0 ? "" : fmt::format(" ({} jobs)", environment.jobs);
      Logger::get()->info(
          fmt::format("Spreading compiles with distcc over {}{}", environment.hosts, jobs));
      if (!options.dryRun) keepDistccDirectory(environment);
    }
    prepared.command =
        project.config.build.with(environment.flags, quotedArguments(options.buildArguments));
  };
  return runStep(options, project, step);
}

}  // namespace

int cmdBuild(const CommandOptions& options) {
  const std::optional<Project> project = buildableProject(options);
  if (!project || !argumentsFit(project->config.build, options)) return kExitFailure;
  return build(options, *project);
}

int cmdTest(const CommandOptions& options) {
  const std::optional<Project> project = buildableProject(options);
  if (!project || !argumentsFit(project->config.test.command, options)) return kExitFailure;
  const BuildConfig& config = project->config;
  Logger::get()->info(fmt::format("Detected: {}", config.displayName));
  const Command& test = config.test.command;
  if (test.empty()) {
    // The outcome, quiet or not: nothing was run and nothing failed.
    Logger::outcome()->info("No tests to run");
    return kExitSuccess;
  }
  Step step{config.test.tools,
            {},
            testEnvironment(*project, options),
            "Testing with: {}",
            "Could not start the tests: {}",
            "✓ Tests passed ({}s)",
            "✗ Tests failed ({}s)",
            {},
            {}};
  step.command = test.with(step.environment.flags, quotedArguments(options.buildArguments));
  return runStep(options, *project, step);
}

int cmdRebuild(const CommandOptions& options) {
  const auto logger = Logger::get();
  const std::optional<Project> project = buildableProject(options);
  if (!project || !argumentsFit(project->config.build, options)) return kExitFailure;
  logger->info("Performing clean rebuild...");

  const ToolRegistry registry(project->config.tools);
  const std::vector<std::string> missing =
      registry.getMissingTools(neededTools(project->config, true), project->folder);
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(fmt::format("Build tool '{}' is missing", tool));
    }
    return kExitFailure;
  }
  logger->info("Cleaning build directory...");
  const auto start = std::chrono::steady_clock::now();
  switch (runCleanStep(*project, options.dryRun)) {
    case CleanOutcome::Interrupted:
      Logger::outcome()->error("✗ Rebuild interrupted while cleaning");
      return kExitInterrupted;
    case CleanOutcome::Failed:
      Logger::outcome()->error(
          fmt::format("✗ Rebuild failed while cleaning ({}s)",
                      elapsedWholeSeconds(start, std::chrono::steady_clock::now())));
      return kExitFailure;
    case CleanOutcome::Cleaned:
    case CleanOutcome::NothingToDo: break;
  }
  // The folder found once, planned again: the clean step may have removed the current folder, and
  // evidence the plan rested on.
  Project cleaned = *project;
  planAgain(cleaned);
  return build(options, cleaned);
}

int cmdClean(const CommandOptions& options) {
  const auto logger = Logger::get();
  const std::optional<Project> project = buildableProject(options);
  if (!project) return kExitFailure;
  logger->info(fmt::format("Detected: {}", project->config.displayName));
  const CleanStep& clean = project->config.clean;
  if (!clean.command.empty()) {
    const ToolRegistry registry(clean.tools);
    const std::vector<std::string> missing = registry.getMissingTools(clean.tools, project->folder);
    if (!missing.empty()) {
      for (const std::string& tool : missing) {
        logger->error(
            fmt::format("Build tool '{}' is missing, please install it to continue", tool));
        logger->info(fmt::format("Install: {}", registry.getInstallGuide(tool)));
      }
      return kExitFailure;
    }
  }
  logger->info("Cleaning build directory...");
  const auto start = std::chrono::steady_clock::now();
  const CleanOutcome outcome = runCleanStep(*project, options.dryRun);
  const std::int64_t seconds = elapsedWholeSeconds(start, std::chrono::steady_clock::now());
  switch (outcome) {
    case CleanOutcome::Interrupted:
      Logger::outcome()->error(fmt::format("✗ Clean interrupted ({}s)", seconds));
      return kExitInterrupted;
    case CleanOutcome::Failed:
      Logger::outcome()->error(fmt::format("✗ Clean failed ({}s)", seconds));
      return kExitFailure;
    case CleanOutcome::NothingToDo: Logger::outcome()->info("✓ Nothing to clean"); break;
    case CleanOutcome::Cleaned:
      if (options.dryRun) {
        Logger::outcome()->info("Dry run: nothing was removed or run");
      } else {
        Logger::outcome()->info(fmt::format("✓ Clean successful ({}s)", seconds));
      }
      break;
  }
  return kExitSuccess;
}

}  // namespace quarn
