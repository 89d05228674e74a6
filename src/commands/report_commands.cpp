#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "base/exit_status.hpp"
#include "base/logger.hpp"
#include "commands/build_environment.hpp"
#include "commands/clean_step.hpp"
#include "commands/commands.hpp"
#include "commands/distribution.hpp"
#include "commands/project.hpp"
#include "project/kinds.hpp"
#include "project/work_tree.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace {

using Json = nlohmann::ordered_json;

enum class Report { Detect, Info, Validate };

// The distcc host of a report, as JSON.
Json describeHost(const BuildHost& host) {
  const HostEntry& entry = host.entry;
  Json object{{"text", entry.text}};
  if (entry.form == HostEntry::Form::Option) {
    object["option"] = true;
    return object;
  }
  object["host"] = entry.host;
  if (entry.form == HostEntry::Form::Tcp) object["port"] = entry.port;
  object["slots"] = entry.slots;
  object["checked"] = host.checked;
  object["reachable"] = host.checked ? Json(host.reachable) : Json();
  return object;
}

// distcc, the hosts asked for and how the build would take them.
Json describeDistribution(const Project& project, const Distribution& distribution,
                          const BuildEnvironment& environment) {
  const Cluster& cluster = *distribution.cluster;
  const ToolRegistry registry;
  const bool installed = registry.isInstalled("distcc", project.folder);
  Json hosts = Json::array();
  for (const BuildHost& host : cluster.hosts) hosts.push_back(describeHost(host));
  Json remarks = Json::array();
  for (const Remark& remark : distribution.remarks) remarks.push_back(remark.text);
  return Json{
      {"source", cluster.source},
      {"distcc",
       {{"installed", installed},
        {"version", installed ? Json(registry.getVersion("distcc", project.folder)) : Json()}}},
      {"hosts", std::move(hosts)},
      {"slots", cluster.slots(Environment::system().processors())},
      {"spread", !environment.hosts.empty()},
      {"remarks", std::move(remarks)},
  };
}

// The project as one JSON object: everything detect, info and validate say, and more.
Json describe(const Project& project, const CommandOptions& options, Report report,
              const Distribution* distribution = nullptr) {
  const BuildConfig& config = project.config;
  const ToolRegistry registry(config.tools);
  Json tools = Json::array();
  for (const std::string& name : config.tools) {
    Json tool{{"name", name}, {"installed", registry.isInstalled(name, project.folder)}};
    if (report == Report::Validate && tool["installed"].get<bool>()) {
      tool["version"] = registry.getVersion(name, project.folder);
    }
    tools.push_back(std::move(tool));
  }
  const BuildEnvironment environment =
      buildEnvironment(project, options, Environment::system(), distribution);
  Json variables = Json::object();
  for (const auto& [name, value] : environment.variables) variables[name] = value;
  const std::string overrides = configuredBy(project);
  Json object{
      {"recognised", true},
      {"path", options.path},
      {"root", absoluteFolder(project.folder)},
      {"kind", std::string(config.kind->name)},
      {"displayName", config.displayName},
      {"language", config.language},
      {"tools", std::move(tools)},
      {"buildCommand", config.buildCommand},
      {"testCommand", config.test.command.empty() ? Json() : Json(config.test.command.line())},
      {"note", config.note.empty() ? Json() : Json(config.note)},
      {"clean",
       {{"removesBuildFolder", std::find(config.clean.folders.begin(), config.clean.folders.end(),
                                         "build") != config.clean.folders.end()},
        {"folders", config.clean.folders},
        {"command", config.clean.command.empty() ? Json() : Json(config.clean.command)}}},
      {"environment",
       {{"jobs", environment.jobs == 0 ? Json() : Json(environment.jobs)},
        {"compilerCache",
         environment.compilerCache.empty() ? Json() : Json(environment.compilerCache)},
        {"variables", std::move(variables)}}},
      {"decidedBy", config.evidence},
      {"configuredBy", overrides.empty() ? Json() : Json(overrides)},
  };
  if (report == Report::Validate) {
    object["distribution"] = distribution != nullptr && distribution->cluster
                                 ? describeDistribution(project, *distribution, environment)
                                 : Json();
  }
  return object;
}

// Writes `object` as the only thing on standard output. Names that are not UTF-8 are shown with
// the replacement character, and everything else outside ASCII escaped, so that it always parses.
void printJson(const Json& object) {
  fmt::print("{}\n", object.dump(2, ' ', true, Json::error_handler_t::replace));
}

// The opening the report commands share: the project, or nullopt after saying that the folder is
// not a recognised project.
std::optional<Project> recognisedProject(const CommandOptions& options) {
  std::optional<Project> project = findProject(options);
  if (!project) {
    if (options.json) {
      printJson(Json{{"recognised", false}, {"path", options.path}});
    } else {
      Logger::get()->warn("Unknown project type");
      logProjectsBelow(options);
    }
    return std::nullopt;
  }
  if (project->rootFound && !options.json) {
    Logger::get()->info(fmt::format("Project root: {}", project->folder));
  }
  return project;
}

void logConfiguredBy(const Project& project) {
  const std::string overrides = configuredBy(project);
  if (!overrides.empty()) Logger::get()->info(fmt::format("Configured by: {}", overrides));
}

std::string toolList(const BuildConfig& config) {
  std::string text;
  for (const std::string& tool : config.tools) text += (text.empty() ? "" : ", ") + tool;
  return text.empty() ? config.buildTool : text;
}

// validate's lines for distcc and the hosts: each host answering or not, or why it is not checked.
void logDistribution(const Project& project, const Distribution& distribution) {
  const auto logger = Logger::get();
  const Cluster& cluster = *distribution.cluster;
  const ToolRegistry registry;
  // A missing distcc is one of the remarks, with how to install it.
  if (registry.isInstalled("distcc", project.folder)) {
    logger->info("✓ distcc is installed");
    logger->info(fmt::format("Version: {}", registry.getVersion("distcc", project.folder)));
  }
  const unsigned processors = Environment::system().processors();
  logger->info(fmt::format("Hosts from {}: {} jobs at once, this machine's included",
                           cluster.source, cluster.slots(processors)));
  for (const BuildHost& host : cluster.hosts) {
    const HostEntry& entry = host.entry;
    if (entry.form == HostEntry::Form::Option) {
      logger->info(fmt::format("  {}: an option of distcc's", entry.text));
    } else if (!host.checked) {
      logger->info(fmt::format("  {}: not checked (localhost, ssh or options), {} slots",
                               entry.text, entry.slots));
    } else if (host.reachable) {
      logger->info(fmt::format("  ✓ {} answers, {} slots", entry.text, entry.slots));
    } else {
      logger->warn(fmt::format("  ✗ {} does not answer", entry.text));
    }
  }
  for (const Remark& remark : distribution.remarks) {
    if (remark.warning) {
      logger->warn(remark.text);
    } else {
      logger->info(remark.text);
    }
  }
}

}  // namespace

void printJsonError(const std::string& message) {
  printJson(Json{{"recognised", nullptr}, {"error", message}});
}

int cmdDetect(const CommandOptions& options) {
  const auto logger = Logger::get();
  const std::optional<Project> project = recognisedProject(options);
  if (!project) return kExitFailure;
  if (options.json) {
    printJson(describe(*project, options, Report::Detect));
    return kExitSuccess;
  }
  const BuildConfig& config = project->config;
  printBlankLine();
  logger->info(fmt::format("Project Type: {}", config.displayName));
  logger->info(fmt::format("Language: {}", config.language));
  logger->info(fmt::format("Build Tool: {}", toolList(config)));
  logger->info(fmt::format("Build Command: {}", config.buildCommand));
  if (!config.note.empty()) logger->info(config.note);
  logConfiguredBy(*project);
  printBlankLine();
  return kExitSuccess;
}

int cmdInfo(const CommandOptions& options) {
  const auto logger = Logger::get();
  const std::optional<Project> project = recognisedProject(options);
  if (!project) return kExitFailure;
  if (options.json) {
    printJson(describe(*project, options, Report::Info));
    return kExitSuccess;
  }
  const BuildConfig& config = project->config;
  const ToolRegistry registry(config.tools);
  printBlankLine();
  logger->info(fmt::format("Project: {}", project->shown));
  logger->info(fmt::format("Type: {}", config.displayName));
  logger->info(fmt::format("Language: {}", config.language));
  logger->info(fmt::format("Build Tool: {}", toolList(config)));
  logConfiguredBy(*project);
  if (registry.getMissingTools(config.tools, project->folder).empty()) {
    logger->info("Status: ✓ Ready to build");
  } else {
    logger->info("Status: ✗ Missing build tool");
  }
  printBlankLine();
  return kExitSuccess;
}

int cmdValidate(const CommandOptions& options) {
  const auto logger = Logger::get();
  const std::optional<Project> project = recognisedProject(options);
  if (!project) return kExitFailure;
  const BuildConfig& config = project->config;
  const ToolRegistry registry(config.tools);
  const std::vector<std::string> missing = registry.getMissingTools(config.tools, project->folder);
  // Every host is checked, whether or not this build could use it.
  Distribution distribution = planDistribution(*project, options);
  if (distribution.cluster) checkHosts(*distribution.cluster);
  if (options.json) {
    printJson(describe(*project, options, Report::Validate, &distribution));
    return missing.empty() ? kExitSuccess : kExitFailure;
  }
  printBlankLine();
  if (!missing.empty()) {
    for (const std::string& tool : missing) {
      logger->error(
          fmt::format("✗ Build tool '{}' is missing, please install it to continue", tool));
      logger->info(fmt::format("Install: {}", registry.getInstallGuide(tool)));
    }
  } else {
    const PinnedTool* pin = pinnedTool(config);
    std::string warning;
    for (const std::string& tool : config.tools) {
      const std::string version = registry.getVersion(tool, project->folder);
      logger->info(fmt::format("✓ Build tool '{}' is installed", tool));
      logger->info(fmt::format("Version: {}", version));
      if (pin != nullptr && pin->tool == tool) warning = pinWarning(*pin, version);
    }
    if (!warning.empty()) logger->warn(warning);
  }
  if (distribution.cluster) logDistribution(*project, distribution);
  printBlankLine();
  return missing.empty() ? kExitSuccess : kExitFailure;
}

}  // namespace quarn
