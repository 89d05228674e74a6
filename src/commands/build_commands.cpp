#include <algorithm>
#include <chrono>
#include <filesystem>
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
    return std::nullopt;
  }
  if (project->rootFound) {
    Logger::get()->info(fmt::format("Project root: {}", project->folder));
  }
  return project;
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

// Logs the verdict of a step from its status and the time it took; returns the exit status.
int verdict(const platform::ProcessStatus& status, std::chrono::steady_clock::time_point start,
            const char* success, const char* failure) {
  const std::int64_t seconds = elapsedWholeSeconds(start, std::chrono::steady_clock::now());
  if (status.status == 0) {
    Logger::outcome()->info(fmt::format(fmt::runtime(success), seconds));
    return kExitSuccess;
  }
  if (status.status < 0) {
    Logger::get()->error(fmt::format("Could not start the build: {}", status.startError));
  }
  Logger::outcome()->error(fmt::format(fmt::runtime(failure), seconds));
  return status.status == kExitInterrupted ? kExitInterrupted : kExitFailure;
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

// Builds `project`, found once by the command: rebuild builds the folder it cleaned, even when
// that removed the current folder.
int build(const CommandOptions& options, const Project& project) {
  const auto logger = Logger::get();
  const BuildConfig& config = project.config;
  logger->info(fmt::format("Detected: {}", config.displayName));

  const ToolRegistry registry(config.tools);
  const std::vector<std::string> missing = registry.getMissingTools(config.tools, project.folder);
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(fmt::format("Build tool '{}' is missing, please install it to continue", tool));
      logger->info(fmt::format("Install: {}", registry.getInstallGuide(tool)));
    }
    return kExitFailure;
  }
  for (const std::string& tool : config.tools) {
    logger->info(fmt::format("Build tool '{}' validated", tool));
  }

  const Distribution distribution = spreadPlan(project, options);
  BuildEnvironment environment =
      buildEnvironment(project, options, Environment::system(), &distribution);
  if (!environment.hosts.empty()) {
    const std::string jobs =
        environment.jobs == 0 ? "" : fmt::format(" ({} jobs)", environment.jobs);
    logger->info(fmt::format("Spreading compiles with distcc over {}{}", environment.hosts, jobs));
    if (!options.dryRun) keepDistccDirectory(environment);
  }
  const std::string command =
      config.build.with(environment.flags, quotedArguments(options.buildArguments));
  const auto start = std::chrono::steady_clock::now();
  platform::ProcessStatus status{0, {}};
  if (!command.empty()) {
    logger->info(fmt::format("Building with: {}", command));
    if (options.dryRun) {
      if (!environment.variables.empty()) {
        logger->info(fmt::format("Environment: {}", describe(environment)));
      }
      Logger::outcome()->info("Dry run: nothing was run");
      return kExitSuccess;
    }
    printBlankLine();
    status = CommandRunner().run(command, {}, project.folder, environment.variables);
    printBlankLine();
  } else if (options.dryRun) {
    Logger::outcome()->info("Dry run: nothing was run");
    return kExitSuccess;
  }
  if (status.status == 0 && !config.note.empty()) logger->info(config.note);
  return verdict(status, start, "✓ Build successful ({}s)", "✗ Build failed ({}s)");
}

}  // namespace

int cmdBuild(const CommandOptions& options) {
  const std::optional<Project> project = buildableProject(options);
  return project ? build(options, *project) : kExitFailure;
}

int cmdRebuild(const CommandOptions& options) {
  const auto logger = Logger::get();
  const std::optional<Project> project = buildableProject(options);
  if (!project) return kExitFailure;
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
  switch (runCleanStep(*project, options.dryRun)) {
    case CleanOutcome::Interrupted:
      Logger::outcome()->error("✗ Rebuild interrupted while cleaning");
      return kExitInterrupted;
    case CleanOutcome::Failed: return kExitFailure;
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
