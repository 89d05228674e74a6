#include "project/makefile.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>

#include "platform/process.hpp"

namespace quarn {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The next physical line, without its line end.
std::string_view nextPhysicalLine(std::string_view& text) {
  const size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// The next logical line: physical lines joined where one ends in a backslash.
bool nextLine(std::string_view& text, std::string& line) {
  line.clear();
  if (text.empty()) return false;
  for (;;) {
    const std::string_view physical = nextPhysicalLine(text);
    if (!physical.empty() && physical.back() == '\\' && !text.empty()) {
      line.append(physical.substr(0, physical.size() - 1));
      line += ' ';
      continue;
    }
    line.append(physical);
    return true;
  }
}

// Make's probe reads the makefiles and $(shell ...) calls of a project; a hung one is given up.
constexpr std::chrono::seconds kMakeTimeout{30};

std::string_view firstWord(std::string_view line) {
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  const size_t end = line.find_first_of(" \t", start);
  return line.substr(start, end == std::string_view::npos ? end : end - start);
}

// The directive a line begins with, past the words that may come before "define"
// ("override define", "export define").
std::string_view directive(std::string_view line) {
  std::string_view word = firstWord(line);
  while (word == "override" || word == "export" || word == "private") {
    line.remove_prefix(static_cast<size_t>(word.data() + word.size() - line.data()));
    word = firstWord(line);
  }
  return word;
}

// The position of the first of `stops` in `text` outside a variable reference ("$(x:.c=.o)",
// "${y}"), or npos.
size_t findOutsideReferences(std::string_view text, std::string_view stops) {
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '$' && i + 1 < text.size() && (text[i + 1] == '(' || text[i + 1] == '{')) {
      ++depth;
      ++i;
    } else if ((c == ')' || c == '}') && depth > 0) {
      --depth;
    } else if (depth == 0 && stops.find(c) != std::string_view::npos) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Calls `statement` with each line that make reads as one, its comment cut off (recipes and the
// bodies of define blocks are left out), until it returns true; says whether one did.
bool anyStatement(std::string_view makefile,
                  const std::function<bool(std::string_view)>& statement) {
  std::string line;
  int defineDepth = 0;
  while (nextLine(makefile, line)) {
    if (!line.empty() && line[0] == '\t') continue;  // a recipe
    const size_t comment = line.find('#');
    const std::string_view text(line.data(), comment == std::string::npos ? line.size() : comment);
    const std::string_view word = directive(text);
    if (word == "define") {
      ++defineDepth;
    } else if (word == "endef") {
      if (defineDepth > 0) --defineDepth;
    } else if (defineDepth == 0 && statement(text)) {
      return true;
    }
  }
  return false;
}

// Whether the text after a rule's colon assigns a variable for its targets ("X = 1",
// "export X := 1") rather than naming prerequisites: an "=" before any recipe after ";".
bool setsTargetVariable(std::string_view rest) {
  const size_t stop = findOutsideReferences(rest, ";=");
  return stop != std::string_view::npos && rest[stop] == '=';
}

// The position of the colon that ends a rule's targets, or npos: a colon inside a variable
// reference does not count, and an assignment (":=", "::=", "=") is no rule.
size_t ruleColon(std::string_view line) {
  const size_t i = findOutsideReferences(line, ":=");
  if (i == std::string_view::npos || line[i] == '=') return std::string_view::npos;
  size_t after = i + 1;
  while (after < line.size() && line[after] == ':') ++after;
  if (after < line.size() && line[after] == '=') return std::string_view::npos;
  return i;
}

}  // namespace

bool definesTarget(std::string_view makefile, std::string_view target) {
  return anyStatement(makefile, [target](std::string_view text) {
    const size_t colon = ruleColon(text);
    if (colon == std::string_view::npos) return false;
    const size_t after = text.find_first_not_of(':', colon);
    if (after != std::string_view::npos && setsTargetVariable(text.substr(after))) return false;
    std::string_view targets = text.substr(0, colon);
    while (!targets.empty()) {
      const size_t start = targets.find_first_not_of(" \t");
      if (start == std::string_view::npos) break;
      targets.remove_prefix(start);
      size_t end = 0;
      while (end < targets.size() && !isBlank(targets[end])) ++end;
      if (targets.substr(0, end) == target) return true;
      targets.remove_prefix(end);
    }
    return false;
  });
}

bool databaseDefinesTarget(std::string_view database, std::string_view target) {
  int defineDepth = 0;  // in the value of a variable of several lines
  bool afterBlank = true;
  while (!database.empty()) {
    const std::string_view line = nextPhysicalLine(database);
    const std::string_view word = line.empty() || line[0] == '\t' ? "" : firstWord(line);
    if (defineDepth > 0) {
      if (word == "endef") --defineDepth;
      if (word == "define") ++defineDepth;
      afterBlank = false;
      continue;
    }
    if (word == "define" && line.compare(0, 7, "define ") == 0) {
      defineDepth = 1;
      afterBlank = false;
      continue;
    }
    // "clean:", "clean::", "clean: prerequisites", followed by make's notes on the file.
    if (afterBlank && line.size() > target.size() && line.compare(0, target.size(), target) == 0 &&
        line[target.size()] == ':' &&
        (line.size() == target.size() + 1 || line[target.size() + 1] == ':' ||
         line[target.size() + 1] == ' ') &&
        database.compare(0, 1, "#") == 0) {
      return true;
    }
    afterBlank = line.empty();
  }
  return false;
}

MakeAnswer askMake(const std::string& folder, std::string_view target,
                   const Environment& environment) {
  const std::string make = environment.locate("make", folder);
  if (make.empty()) return MakeAnswer::Unknown;
  // Found from quarn's own folder; make runs in the project's.
  std::error_code error;
  const std::filesystem::path program = std::filesystem::absolute(make, error);
  if (error) return MakeAnswer::Unknown;
  const platform::CapturedOutput answer = platform::captureProgramOutput(
      {program.string(), "-p", "-q", "-r", "."}, folder, kMakeTimeout);
  // 2: make could not read its makefiles; make itself then says why when the command runs.
  if (!answer.completed || (answer.status != 0 && answer.status != 1)) return MakeAnswer::Unknown;
  // GNU make's data base opens with its version, in every language.
  const std::string_view output(answer.output);
  if (output.compare(0, 11, "# GNU Make ") != 0 &&
      output.find("\n# GNU Make ") == std::string::npos) {
    return MakeAnswer::Unknown;
  }
  return databaseDefinesTarget(output, target) ? MakeAnswer::Has : MakeAnswer::HasNot;
}

std::string cleanCommandNow(const CleanStep& clean, const std::string& folder) {
  if (clean.makeTarget.empty()) return clean.command;
  switch (askMake(folder, clean.makeTarget)) {
    case MakeAnswer::Has: return clean.makeCommand;
    case MakeAnswer::HasNot: return {};
    case MakeAnswer::Unknown: break;
  }
  return clean.command;
}

std::optional<std::string> assignedValue(std::string_view makefile, std::string_view variable) {
  std::optional<std::string> value;
  anyStatement(makefile, [&value, variable](std::string_view text) {
    std::string_view word = firstWord(text);
    while (word == "override" || word == "export") {
      text.remove_prefix(text.find(word) + word.size());
      word = firstWord(text);
    }
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    if (text.substr(0, variable.size()) != variable) return false;
    text.remove_prefix(variable.size());
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    size_t operatorEnd = 0;
    for (const std::string_view op : {":::=", "::=", ":=", "!=", "="}) {
      if (text.substr(0, op.size()) == op) {
        operatorEnd = op.size();
        break;
      }
    }
    if (operatorEnd == 0) return false;  // another name, "?=", "+=" or a rule
    text.remove_prefix(operatorEnd);
    const size_t start = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t");
    value = start == std::string_view::npos ? std::string()
                                            : std::string(text.substr(start, end - start + 1));
    return false;  // a later assignment wins
  });
  return value;
}

}  // namespace quarn
