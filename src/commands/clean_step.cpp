#include "commands/clean_step.hpp"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include <fmt/format.h>

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

bool setInEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

enum class Listing { Nothing, Tracked, Failed };

// What git, with `repository` (options naming one; none: as the user runs it), tracks in the
// output folder `name` seen from `folder`.
Listing trackedIn(const std::string& git, const std::vector<std::string>& repository,
                  const std::string& folder, const std::string& name) {
  std::vector<std::string> argv{git};
  argv.insert(argv.end(), repository.begin(), repository.end());
  argv.insert(argv.end(), {"ls-files", "-z", "--", name});
  const platform::CapturedOutput listed = platform::captureProgramOutput(argv, folder, kGitTimeout);
  if (!listed.completed || listed.status != 0) return Listing::Failed;
  return listed.output.empty() ? Listing::Nothing : Listing::Tracked;
}

std::string reasonFor(Listing listing) {
  switch (listing) {
    case Listing::Nothing: return {};
    case Listing::Tracked: return "git tracks files in it";
    case Listing::Failed: break;
  }
  return "it lies in a git work tree and git could not say what it tracks";
}

// Why the work tree `folder` lies in may hold sources in its output folder `name`, or empty when
// it cannot.
// git is asked as the user runs it, so that a work tree their environment names (GIT_DIR,
// GIT_WORK_TREE: a bare repository over the home folder) counts. A .git above that this git may
// not have answered for (the environment named another repository; GIT_CEILING_DIRECTORIES,
// another file system or an owner git does not trust made it refuse) is then asked by name. With
// neither a .git above nor GIT_DIR or GIT_WORK_TREE, git has no work tree to find, and is not
// started.
std::string workTreeReason(const std::string& folder, const std::string& name) {
  const WorkTree tree = findWorkTree(folder);
  switch (tree.system) {
    case WorkTree::System::Mercurial:
      return "it lies in a Mercurial work tree, which quarn cannot ask which files it tracks";
    case WorkTree::System::Subversion:
      return "it lies in a Subversion work tree, which quarn cannot ask which files it tracks";
    case WorkTree::System::None:
    case WorkTree::System::Git: break;
  }
  const bool found = tree.system == WorkTree::System::Git;
  const bool named = setInEnvironment("GIT_DIR") || setInEnvironment("GIT_WORK_TREE");
  if (!found && !named) return {};
  const std::string git = ToolRegistry::locate("git", folder);
  if (git.empty()) {
    return "it lies in a git work tree and git is not installed to say what it tracks";
  }
  if (!named) {
    // git finds the same .git, unless it refuses it.
    const Listing listing = trackedIn(git, {}, folder, name);
    if (listing != Listing::Failed) return reasonFor(listing);
  } else {
    const platform::CapturedOutput asked = platform::captureProgramOutput(
        {git, "rev-parse", "--is-inside-work-tree"}, folder, kGitTimeout);
    const bool answered = asked.completed && asked.status == 0;
    if (answered && asked.output.rfind("true", 0) == 0) {
      const Listing listing = trackedIn(git, {}, folder, name);
      // Nothing there: a .git above is another repository, and is asked still.
      if (listing != Listing::Nothing || !found) return reasonFor(listing);
    } else if (!found) {
      // Outside the work tree the environment names, or that one cannot be opened.
      return answered ? std::string() : reasonFor(Listing::Failed);
    }
  }
  const std::string& root = tree.root;
  return reasonFor(
      trackedIn(git, {"--git-dir=" + (fs::u8path(root) / ".git").u8string(), "--work-tree=" + root},
                folder, name));
}

// Asked of the platform, which takes paths of any length and sees junctions as links.
bool existsAsEntry(const std::string& path) {
  std::error_code error;
  const fs::file_type entry = platform::fileType(path, false, error);
  return entry != fs::file_type::none && entry != fs::file_type::not_found;
}

// Only a folder holds build output: a file called "build" is likely the project's own build
// script. A link, removed as a link, counts when it leads to a folder or nowhere.
bool isFolderOrLinkToOne(const std::string& path) {
  std::error_code error;
  const fs::file_type entry = platform::fileType(path, false, error);
  if (entry == fs::file_type::directory) return true;
  if (entry != fs::file_type::symlink) return false;
  const fs::file_type target = platform::fileType(path, true, error);
  return target == fs::file_type::directory || target == fs::file_type::not_found;
}

// The output folder `name` in the folder as the user typed it: normalised for the eye, unless a
// ".." would then name another folder than the one the system reaches.
std::string shownOutputFolder(const std::string& shown, const std::string& name) {
  const fs::path build = fs::u8path(shown) / name;
  for (const fs::path& part : build) {
    if (part == "..") return build.u8string();
  }
  return build.lexically_normal().u8string();
}

// `path`, found below the physical `build`, as it lies below the build folder the user knows.
std::string shownBelow(const std::string& path, const fs::path& build, const std::string& shown) {
  const fs::path inner = fs::u8path(path).lexically_relative(build);
  if (inner.empty() || *inner.begin() == "..") return path;
  return inner == "." ? shown : (fs::u8path(shown) / inner).u8string();
}

// Why the output folder `name` (at `build`) must stay, or empty when it may go: the project's own
// files may be in it.
std::string reasonToKeep(const Project& project, const std::string& name, const fs::path& build,
                         const std::string& shown) {
  if (!isFolderOrLinkToOne(build.u8string())) return "it is not a folder";
  if (!project.resolved) return "the system could not resolve the project folder's path";
  std::string reason = workTreeReason(project.folder, name);
  if (!reason.empty()) return reason;
  // A link goes as a link: only a folder of its own can take a repository with it.
  std::error_code error;
  if (platform::fileType(build.u8string(), false, error) == fs::file_type::directory) {
    const std::string repository = repositoryWithin(build.u8string());
    if (!repository.empty()) {
      reason = fmt::format("it holds a repository of its own ('{}')",
                           shownBelow(repository, build, shown));
    }
  }
  return reason;
}

}  // namespace

CleanOutcome runCleanStep(const Project& project, bool dryRun) {
  const auto logger = Logger::get();
  const CleanStep& clean = project.config.clean;
  bool didSomething = false;
  for (const std::string& name : clean.folders) {
    const fs::path build = fs::u8path(project.folder) / fs::u8path(name);
    const std::string shown = shownOutputFolder(project.shown, name);
    if (existsAsEntry(build.u8string())) {
      const std::string reason = reasonToKeep(project, name, build, shown);
      if (!reason.empty()) {
        logger->warn(fmt::format("Leaving '{}' in place: {}", shown, reason));
      } else if (dryRun) {
        logger->info(fmt::format("Would remove '{}'", shown));
        didSomething = true;
      } else {
        const platform::Removal removal = platform::removeTree(build.u8string());
        // A signal after the last entry went still stops the step: nothing may start after it.
        if (removal.stopped || platform::stopSignal() != 0) return CleanOutcome::Interrupted;
        if (!removal.failedPath.empty()) {
          logger->error(fmt::format("Could not remove '{}': {}",
                                    shownBelow(removal.failedPath, build, shown), removal.error));
          return CleanOutcome::Failed;
        }
        for (const std::string& mount : removal.mounts) {
          logger->warn(fmt::format("Leaving '{}' in place: another file system is mounted there",
                                   shownBelow(mount, build, shown)));
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
  if (platform::stopSignal() != 0) return CleanOutcome::Interrupted;
  if (status.status == 0) return CleanOutcome::Cleaned;
  if (status.status < 0) {
    logger->error(fmt::format("Could not start '{}': {}", command, status.startError));
  } else {
    logger->error(fmt::format("'{}' failed with status {}", command, status.status));
  }
  return CleanOutcome::Failed;
}

}  // namespace quarn
