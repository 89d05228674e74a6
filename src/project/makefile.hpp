#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "project/environment.hpp"
#include "project/project_type.hpp"

namespace quarn {

// Returns whether the makefile text defines a rule for `target` (as in "clean:" or
// "all clean::"), read as make reads rules: recipe lines, comments, variable assignments,
// variables set for a target ("clean: X = 1") and define blocks are not rules. Conditionals are
// not evaluated and included makefiles are not followed: only make knows those (see askMake).
bool definesTarget(std::string_view makefile, std::string_view target);

// Returns whether make's data base, as `make -p` prints it, holds `target` as the target of a
// rule: an entry of its own after a blank line, which make does not mark "# Not a target:" (a file
// only named as a prerequisite or given variables), outside the values of variables.
bool databaseDefinesTarget(std::string_view database, std::string_view target);

enum class MakeAnswer {
  Has,
  HasNot,
  Unknown,  // make is not there, did not answer in time, or is not GNU make
};

// Asks make, found as a command run in `folder` finds it, whether the makefile it reads there
// has a rule for `target`, evaluated as make evaluates it: conditionals, includes and rules made
// by $(eval) count. "make -p -q -r ." prints the data base and builds nothing: its goal is the
// folder, which is never out of date, and -q runs no recipe. Make still remakes its makefiles
// first and runs the makefile's $(shell ...) calls, as it does for any goal.
MakeAnswer askMake(const std::string& folder, std::string_view target,
                   const Environment& environment = Environment::system());

// The clean command to run in `folder` now: `clean.command`, but where the kind's own clean
// makes a makefile's target, make itself is asked whether it has one, and decides; where make
// cannot answer, the reading of the makefile (`clean.command`) does.
std::string cleanCommandNow(const CleanStep& clean, const std::string& folder);
// The value the makefile text gives `variable` in an assignment that overrides the environment
// ("CC = gcc", ":=", "::=", "!=", "override CC = ..."), the last one read; nullopt when it gives
// none, or only "?=" or "+=", through which the environment's value comes in. Recipes, define
// blocks and rules' own variables are no such assignment; conditionals are not followed.
std::optional<std::string> assignedValue(std::string_view makefile, std::string_view variable);

}  // namespace quarn
