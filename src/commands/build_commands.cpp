#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cli/logger.hpp"
#include "commands/command_runner.hpp"
#include "commands/commands.hpp"
#include "platform/process.hpp"
#include "project/project_detector.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace {

// The status a build ended by Ctrl-C reports, as a shell does: 128 + SIGINT.
constexpr int kInterrupted = 130;

// The opening the build commands share: the project's configuration, or nullopt after the
// error for a folder that is not a recognised project.
std::optional<BuildConfig> buildableProject(const std::string& path) {
  BuildConfig config = ProjectDetector().getBuildConfig(path);
  if (config.projectType == ProjectType::Unknown) {
    Logger::get()->error("Could not detect project type");
    return std::nullopt;
  }
  return config;
}

}  // namespace

int cmdBuild(const std::string& path) {
  const auto logger = Logger::get();
  const std::optional<BuildConfig> project = buildableProject(path);
  if (!project) return 1;
  const BuildConfig& config = *project;
  logger->info(fmt::format("Detected: {}", ProjectDetector().getTypeName(config.projectType)));

  const ToolRegistry registry;
  const std::vector<std::string> missing = registry.getMissingTools({config.buildTool});
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(fmt::format("Build tool '{}' is missing, please install it to continue", tool));
      logger->info(fmt::format("Install: {}", registry.getInstallGuide(tool)));
    }
    return 1;
  }
  logger->info(fmt::format("Build tool '{}' validated", config.buildTool));

  const auto start = std::chrono::steady_clock::now();
  logger->info(fmt::format("Building with: {}", config.buildCommand));
  fmt::print("\n");
  const int status = CommandRunner().run(config.buildCommand, {}, path);
  const auto end = std::chrono::steady_clock::now();
  fmt::print("\n");

  const std::int64_t seconds = elapsedWholeSeconds(start, end);
  if (status == 0) {
    logger->info(fmt::format("✓ Build successful ({}s)", seconds));
    return 0;
  }
  logger->error(fmt::format("✗ Build failed ({}s)", seconds));
  return status == kInterrupted ? kInterrupted : 1;
}

int cmdRebuild(const std::string& path) {
  const auto logger = Logger::get();
  const std::optional<BuildConfig> project = buildableProject(path);
  if (!project) return 1;
  const BuildConfig& config = *project;
  logger->info("Performing clean rebuild...");

  const ToolRegistry registry;
  const std::vector<std::string> missing = registry.getMissingTools({config.buildTool});
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(fmt::format("Build tool '{}' is missing", tool));
    }
    return 1;
  }
  logger->info("Cleaning build directory...");
  // A failed removal is not fatal: the build that follows shows whether it mattered.
  CommandRunner().run(platform::kCleanCommand, {}, path);
  return cmdBuild(path);
}

}  // namespace quarn
