#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "cli/logger.hpp"
#include "commands/commands.hpp"
#include "project/project_detector.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace {

// The opening the report commands share: the project's configuration, or nullopt after the
// warning for a folder that is not a recognised project.
std::optional<BuildConfig> recognisedProject(const std::string& path) {
  BuildConfig config = ProjectDetector().getBuildConfig(path);
  if (config.projectType == ProjectType::Unknown) {
    Logger::get()->warn("Unknown project type");
    return std::nullopt;
  }
  return config;
}

}  // namespace

int cmdDetect(const std::string& path) {
  const auto logger = Logger::get();
  const std::optional<BuildConfig> config = recognisedProject(path);
  if (!config) return 1;
  fmt::print("\n");
  logger->info(fmt::format("Project Type: {}", ProjectDetector().getTypeName(config->projectType)));
  logger->info(fmt::format("Language: {}", config->language));
  logger->info(fmt::format("Build Tool: {}", config->buildTool));
  logger->info(fmt::format("Build Command: {}", config->buildCommand));
  fmt::print("\n");
  return 0;
}

int cmdInfo(const std::string& path) {
  const auto logger = Logger::get();
  const std::optional<BuildConfig> config = recognisedProject(path);
  if (!config) return 1;
  const ToolRegistry registry;
  fmt::print("\n");
  logger->info(fmt::format("Project: {}", path));
  logger->info(fmt::format("Type: {}", ProjectDetector().getTypeName(config->projectType)));
  logger->info(fmt::format("Language: {}", config->language));
  logger->info(fmt::format("Build Tool: {}", config->buildTool));
  if (registry.isInstalled(config->buildTool)) {
    logger->info("Status: ✓ Ready to build");
  } else {
    logger->info("Status: ✗ Missing build tool");
  }
  fmt::print("\n");
  return 0;
}

int cmdValidate(const std::string& path) {
  const auto logger = Logger::get();
  const std::optional<BuildConfig> config = recognisedProject(path);
  if (!config) return 1;
  const ToolRegistry registry;
  const std::vector<std::string> missing = registry.getMissingTools({config->buildTool});
  fmt::print("\n");
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(
          fmt::format("✗ Build tool '{}' is missing, please install it to continue", tool));
      logger->info(fmt::format("Install: {}", registry.getInstallGuide(tool)));
    }
  } else {
    logger->info(fmt::format("✓ Build tool '{}' is installed", config->buildTool));
    logger->info(fmt::format("Version: {}", registry.getVersion(config->buildTool)));
  }
  fmt::print("\n");
  return missing.empty() ? 0 : 1;
}

}  // namespace quarn
