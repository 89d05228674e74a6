#include "project/hosts.hpp"

#include <algorithm>

#include <fmt/format.h>

namespace quarn {

namespace {

constexpr unsigned kDefaultSlots = 4;  // distcc's own default limit of a host
constexpr unsigned kLocalSlots = 2;    // and of localhost

bool isDigits(std::string_view text) {
  return !text.empty() && text.size() <= 6 && text.find_first_not_of("0123456789") == text.npos;
}

// A whole number from `low` to `high`, or nullopt.
std::optional<unsigned> number(std::string_view text, unsigned low, unsigned high) {
  if (!isDigits(text)) return std::nullopt;
  const unsigned value = static_cast<unsigned>(std::stoul(std::string(text)));
  if (value < low || value > high) return std::nullopt;
  return value;
}

// Takes the text up to the next of `ends` from `rest`.
std::string_view take(std::string_view& rest, std::string_view ends) {
  const size_t end = std::min(rest.find_first_of(ends), rest.size());
  const std::string_view taken = rest.substr(0, end);
  rest.remove_prefix(end);
  return taken;
}

}  // namespace

std::optional<HostEntry> readHostEntry(std::string_view text, std::string& error) {
  HostEntry entry;
  entry.text = std::string(text);
  const auto bad = [&](const std::string& why) {
    error = fmt::format("'{}' is no distcc host: {}", text, why);
    return std::nullopt;
  };
  if (text.empty()) return bad("it is empty");
  if (text.find_first_of(" \t\r\n") != text.npos) return bad("one host per entry");
  if (text == "--randomize" || text == "+zeroconf") {
    entry.form = HostEntry::Form::Option;
    return entry;
  }
  for (std::string_view option : {"--localslots=", "--localslots_cpp="}) {
    if (text.substr(0, option.size()) == option) {
      if (!number(text.substr(option.size()), 1, 100000)) return bad("it needs a whole number");
      entry.form = HostEntry::Form::Option;
      return entry;
    }
  }
  if (text[0] == '-') return bad("distcc knows no such option");

  std::string_view rest = text;
  const size_t at = text.find('@');
  if (at != text.npos && at < text.find(',')) {
    // USER@HOST[/LIMIT][:COMMAND][OPTIONS]: over ssh, which quarn leaves to distcc.
    entry.form = HostEntry::Form::Unchecked;
    rest.remove_prefix(at + 1);
  }
  if (!rest.empty() && rest[0] == '[') {
    const size_t close = rest.find(']');
    if (close == rest.npos) return bad("an IPv6 address needs its closing ']'");
    entry.host = std::string(rest.substr(1, close - 1));
    rest.remove_prefix(close + 1);
  } else {
    entry.host = std::string(take(rest, ":/,"));
  }
  if (entry.host.empty()) return bad("it names no host");
  entry.local = entry.host == "localhost" && entry.form == HostEntry::Form::Tcp;
  const bool local = entry.local;
  if (local) entry.form = HostEntry::Form::Unchecked;
  bool portGiven = false;
  bool limitGiven = false;
  while (!rest.empty()) {
    const char mark = rest[0];
    if (mark == ',') {
      entry.form = HostEntry::Form::Unchecked;  // options are distcc's own
      break;
    }
    rest.remove_prefix(1);
    if (mark == '/' && !limitGiven) {
      const std::optional<unsigned> limit = number(take(rest, ":/,"), 1, 100000);
      if (!limit) return bad("the limit after '/' must be a whole number of 1 or more");
      entry.slots = *limit;
      limitGiven = true;
    } else if (mark == ':' && entry.form == HostEntry::Form::Unchecked && !local) {
      break;  // over ssh: the command that runs distccd
    } else if (mark == ':' && !portGiven && !local) {
      const std::optional<unsigned> port = number(take(rest, ":/,"), 1, 65535);
      if (!port) return bad("the port after ':' must be a number from 1 to 65535");
      entry.port = static_cast<std::uint16_t>(*port);
      portGiven = true;
    } else {
      return bad(fmt::format("'{}' is out of place", mark));
    }
  }
  if (!limitGiven) entry.slots = local ? kLocalSlots : kDefaultSlots;
  return entry;
}

std::vector<std::string> hostWords(std::string_view list) {
  std::vector<std::string> words;
  for (;;) {
    const size_t start = list.find_first_not_of(" \t\r\n");
    if (start == list.npos) return words;
    list.remove_prefix(start);
    const size_t end = std::min(list.find_first_of(" \t\r\n"), list.size());
    words.emplace_back(list.substr(0, end));
    list.remove_prefix(end);
  }
}

}  // namespace quarn
