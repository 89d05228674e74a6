#pragma once

#include <string_view>

namespace quarn {

// Returns whether the makefile text defines a rule for `target` (as in "clean:" or
// "all clean::"), read as make reads rules: recipe lines, comments, variable assignments and
// define blocks are not rules. Included makefiles are not followed.
bool definesTarget(std::string_view makefile, std::string_view target);

}  // namespace quarn
