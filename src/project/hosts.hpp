#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// One entry of a distcc host list, as DISTCC_HOSTS writes it.
struct HostEntry {
  enum class Form {
    Tcp,        // HOST[:PORT][/LIMIT] or HOST[/LIMIT][:PORT]: a daemon quarn can check
    Unchecked,  // localhost, over ssh (USER@HOST), or with options (",lzo"): passed on as written
    Option,     // --randomize, --localslots=N, +zeroconf: for distcc itself, no host
  };
  std::string text;  // as written
  Form form = Form::Tcp;
  std::string host;  // the name or address to connect to (Tcp), an IPv6 one without brackets
  std::uint16_t port = 3632;
  unsigned slots = 0;  // the jobs distcc sends it: its /LIMIT, else 4 (2 for localhost)
  bool local = false;  // "localhost": distcc runs these compiles itself, no daemon
};

// The port distcc's daemons listen on unless told.
inline constexpr std::uint16_t kDistccPort = 3632;

// Reads one entry. An entry distcc could not read either gives nullopt and says why in `error`.
std::optional<HostEntry> readHostEntry(std::string_view text, std::string& error);

// The entries of a host list: its words, split at white space.
std::vector<std::string> hostWords(std::string_view list);

}  // namespace quarn
