#include "commands/clean_step.hpp"

#include <chrono>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "base/exit_status.hpp"
#include "base/logger.hpp"
#include "commands/command_runner.hpp"
#include "platform/files.hpp"
#include "platform/process.hpp"
#include "platform/signals.hpp"
#include "project/makefile.hpp"
#include "project/work_tree.hpp"
#include "tools/tool_registry.hpp"

namespace quarn {

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::seconds kGitTimeout{30};

// Why the output folder `name` must stay, or empty when it may go: the project's own sources may
// be in it.
std::string reasonToKeep(const std::string& folder, const std::string& name) {
  const WorkTree tree = findWorkTree(folder);
  switch (tree.system) {
    case WorkTree::System::None: return {};
    case WorkTree::System::Mercurial:
      return "it lies in a Mercurial work tree, which quarn cannot ask which files it tracks";
    case WorkTree::System::Subversion:
      return "it lies in a Subversion work tree, which quarn cannot ask which files it tracks";
    case WorkTree::System::Git: break;
  }
  const std::string git = ToolRegistry::locate("git", folder);
  if (git.empty()) {
    return "it lies in a git work tree and git is not installed to say what it tracks";
  }
  const platform::CapturedOutput listed =
      platform::captureProgramOutput({git, "ls-files", "-z", "--", name}, folder, kGitTimeout);
  if (!listed.completed || listed.status != 0) {
    return "it lies in a git work tree and git could not say what it tracks";
  }
  return listed.output.empty() ? std::string() : "git tracks files in it";
}

bool existsAsEntry(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

// Only a folder holds build output: a file called "build" is likely the project's own build
// script. A link, removed as a link, counts when it leads to a folder or nowhere.
bool isFolderOrLinkToOne(const fs::path& path) {
  std::error_code error;
  const fs::file_type entry = fs::symlink_status(path, error).type();
  if (entry == fs::file_type::directory) return true;
  if (entry != fs::file_type::symlink) return false;
  const fs::file_type target = fs::status(path, error).type();
  return target == fs::file_type::directory || target == fs::file_type::not_found;
}

}  // namespace

CleanOutcome runCleanStep(const Project& project, bool dryRun) {
  const auto logger = Logger::get();
  const CleanStep& clean = project.config.clean;
  bool didSomething = false;
  for (const std::string& name : clean.folders) {
    const fs::path build = (fs::path(project.folder) / name).lexically_normal();
    if (existsAsEntry(build)) {
      const std::string reason =
          isFolderOrLinkToOne(build) ? reasonToKeep(project.folder, name) : "it is not a folder";
      if (!reason.empty()) {
        logger->warn(fmt::format("Leaving '{}' in place: {}", build.string(), reason));
      } else if (dryRun) {
        logger->info(fmt::format("Would remove '{}'", build.string()));
        didSomething = true;
      } else {
        const platform::Removal removal = platform::removeTree(build.string());
        // A signal after the last entry went still stops the step: nothing may start after it.
        if (removal.stopped || platform::stopSignal() != 0) return CleanOutcome::Interrupted;
        if (!removal.failedPath.empty()) {
          logger->error(
              fmt::format("Could not remove '{}': {}", removal.failedPath, removal.error));
          return CleanOutcome::Failed;
        }
        for (const std::string& mount : removal.mounts) {
          logger->warn(
              fmt::format("Leaving '{}' in place: another file system is mounted there", mount));
        }
        didSomething = true;
      }
    }
  }
  // The dry run shows the plan as read; the step itself asks make about a makefile's target.
  const std::string command = dryRun ? clean.command : cleanCommandNow(clean, project.folder);
  if (command.empty() && !clean.command.empty()) {
    logger->info(fmt::format("Make has no '{}' target here: '{}' is not run", clean.makeTarget,
                             clean.command));
  }
  if (command.empty()) {
    return didSomething ? CleanOutcome::Cleaned : CleanOutcome::NothingToDo;
  }
  if (dryRun) {
    logger->info(fmt::format("Would run: {}", command));
    return CleanOutcome::Cleaned;
  }
  const platform::ProcessStatus status = CommandRunner().run(command, {}, project.folder);
  if (platform::stopSignal() != 0 || status.status == kExitInterrupted) {
    return CleanOutcome::Interrupted;
  }
  if (status.status == 0) return CleanOutcome::Cleaned;
  if (status.status < 0) {
    logger->error(fmt::format("Could not start '{}': {}", command, status.startError));
  } else {
    logger->error(fmt::format("'{}' failed with status {}", command, status.status));
  }
  return CleanOutcome::Failed;
}

}  // namespace quarn
