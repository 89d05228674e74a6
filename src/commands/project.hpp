#pragma once

#include <optional>
#include <string>

#include "commands/options.hpp"
#include "project/planner.hpp"
#include "project/project_type.hpp"
#include "project/settings_file.hpp"

namespace quarn {

// A recognised project and how to build it.
struct Project {
  // Where every step runs: the folder the path reaches, links and ".." resolved by the file system,
  // or the root found above the current folder. Detection, the work tree, the clean step and the
  // build all see this one folder.
  std::string folder;
  std::string shown;       // the folder as the user knows it: the path as typed, or the root found
  bool resolved = false;   // `folder` is the physical path; false: the system could not resolve it
  bool rootFound = false;  // found by looking up from the current folder
  BuildConfig config;
  bool kindChosen = false;  // by --kind
  std::optional<ProjectSettings> settings;
  PlanRequest request;  // what the plan was made from
};

// The project the options name: the folder's kind (or the one --kind or quarn.toml names), with
// the plan refined by the folder's evidence and overridden by its quarn.toml. Without a path, a
// current folder that holds no marker inside a work tree gives way to the nearest parent, up to
// the work tree's root, that does. nullopt when there is no project. Throws SettingsError.
std::optional<Project> findProject(const CommandOptions& options);

// Makes `project`'s plan again from what its folder holds now, the folder and the kind kept: the
// clean step may have taken evidence away (a Meson build folder configured already).
void planAgain(Project& project);

// What overrode detection, as "quarn.toml (kind, build)" or "--kind"; empty when nothing did.
std::string configuredBy(const Project& project);

// Says which subfolders of the folder the options name hold a project, as "Projects below: Src
// (dotnet), docs/site (npm)", after the folder itself was found to be none; nothing when none do.
void logProjectsBelow(const CommandOptions& options);

// The tool whose version the project pins, when the plan runs it; null otherwise.
const PinnedTool* pinnedTool(const BuildConfig& config);

// "package.json pins pnpm 9.1.1; pnpm 12.0.0 is installed" when `installed`, the version line of
// the pinned tool, shows another major version; empty when the majors agree or either is unknown.
std::string pinWarning(const PinnedTool& pin, const std::string& installed);

}  // namespace quarn
