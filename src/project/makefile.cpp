#include "project/makefile.hpp"

#include <algorithm>
#include <string>

namespace quarn {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The next logical line: physical lines joined where one ends in a backslash.
bool nextLine(std::string_view& text, std::string& line) {
  line.clear();
  if (text.empty()) return false;
  for (;;) {
    const size_t end = text.find('\n');
    std::string_view physical = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    if (!physical.empty() && physical.back() == '\\' && !text.empty()) {
      line.append(physical.substr(0, physical.size() - 1));
      line += ' ';
      continue;
    }
    line.append(physical);
    return true;
  }
}

std::string_view firstWord(std::string_view line) {
  const size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return {};
  const size_t end = line.find_first_of(" \t", start);
  return line.substr(start, end == std::string_view::npos ? end : end - start);
}

// The position of the colon that ends a rule's targets, or npos: a colon inside a variable
// reference ("$(x:.c=.o)") does not count, and an assignment (":=", "::=", "=") is no rule.
size_t ruleColon(std::string_view line) {
  int depth = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '$' && i + 1 < line.size() && (line[i + 1] == '(' || line[i + 1] == '{')) {
      ++depth;
      ++i;
    } else if ((c == ')' || c == '}') && depth > 0) {
      --depth;
    } else if (depth == 0 && c == '=') {
      return std::string_view::npos;
    } else if (depth == 0 && c == ':') {
      size_t after = i + 1;
      while (after < line.size() && line[after] == ':') ++after;
      if (after < line.size() && line[after] == '=') return std::string_view::npos;
      return i;
    }
  }
  return std::string_view::npos;
}

}  // namespace

bool definesTarget(std::string_view makefile, std::string_view target) {
  std::string line;
  int defineDepth = 0;
  while (nextLine(makefile, line)) {
    if (!line.empty() && line[0] == '\t') continue;  // a recipe
    const size_t comment = line.find('#');
    std::string_view text(line.data(), comment == std::string::npos ? line.size() : comment);
    const std::string_view word = firstWord(text);
    if (word == "define") {
      ++defineDepth;
      continue;
    }
    if (word == "endef") {
      if (defineDepth > 0) --defineDepth;
      continue;
    }
    if (defineDepth > 0) continue;
    const size_t colon = ruleColon(text);
    if (colon == std::string_view::npos) continue;
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
  }
  return false;
}

std::optional<std::string> assignedValue(std::string_view makefile, std::string_view variable) {
  std::optional<std::string> value;
  std::string line;
  int defineDepth = 0;
  while (nextLine(makefile, line)) {
    if (!line.empty() && line[0] == '\t') continue;  // a recipe
    const size_t comment = line.find('#');
    std::string_view text(line.data(), comment == std::string::npos ? line.size() : comment);
    std::string_view word = firstWord(text);
    if (word == "define") {
      ++defineDepth;
      continue;
    }
    if (word == "endef") {
      if (defineDepth > 0) --defineDepth;
      continue;
    }
    if (defineDepth > 0) continue;
    while (word == "override" || word == "export") {
      text.remove_prefix(text.find(word) + word.size());
      word = firstWord(text);
    }
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    if (text.substr(0, variable.size()) != variable) continue;
    text.remove_prefix(variable.size());
    text.remove_prefix(std::min(text.find_first_not_of(" \t"), text.size()));
    size_t operatorEnd = 0;
    for (const std::string_view op : {":::=", "::=", ":=", "!=", "="}) {
      if (text.substr(0, op.size()) == op) {
        operatorEnd = op.size();
        break;
      }
    }
    if (operatorEnd == 0) continue;  // another name, "?=", "+=" or a rule
    text.remove_prefix(operatorEnd);
    const size_t start = text.find_first_not_of(" \t");
    const size_t end = text.find_last_not_of(" \t");
    value = start == std::string_view::npos ? std::string()
                                            : std::string(text.substr(start, end - start + 1));
  }
  return value;
}

}  // namespace quarn
