#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quarn {

// Returns whether the makefile text defines a rule for `target` (as in "clean:" or
// "all clean::"), read as make reads rules: recipe lines, comments, variable assignments and
// define blocks are not rules. Included makefiles are not followed.
bool definesTarget(std::string_view makefile, std::string_view target);

// The value the makefile text gives `variable` in an assignment that overrides the environment
// ("CC = gcc", ":=", "::=", "!=", "override CC = ..."), the last one read; nullopt when it gives
// none, or only "?=" or "+=", through which the environment's value comes in. Recipes, define
// blocks and rules' own variables are no such assignment; conditionals are not followed.
std::optional<std::string> assignedValue(std::string_view makefile, std::string_view variable);

}  // namespace quarn
