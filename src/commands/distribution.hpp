#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "commands/options.hpp"
#include "commands/project.hpp"
#include "project/environment.hpp"
#include "project/hosts.hpp"

namespace quarn {

// One entry of the host list a build was given.
struct BuildHost {
  HostEntry entry;
  bool checked = false;   // a Tcp host whose daemon quarn tried to reach
  bool reachable = true;  // it answered; hosts not checked count as reachable
};

// The distcc hosts asked for, where they came from and which of them answer.
struct Cluster {
  std::string source;  // "--hosts", the quarn.toml, QUARN_HOSTS or DISTCC_HOSTS
  bool asked = false;  // for this build or project (--hosts, quarn.toml), not the environment's
  std::vector<BuildHost> hosts;         // in the list's order, distcc's options included
  std::vector<std::string> unreadable;  // why words of the environment's list were left out

  // The hosts that answered or are not checked, options left out.
  std::vector<const BuildHost*> usable() const;
  // The hosts checked that did not answer, as written.
  std::vector<std::string> unreachable() const;
  // DISTCC_HOSTS for the build: the usable hosts and distcc's options, and localhost/N for this
  // machine's `processors` unless the list names localhost itself.
  std::string hostList(unsigned processors) const;
  // The jobs the list takes at once, counted as `distcc -j` counts them: each host's limit.
  unsigned slots(unsigned processors) const;
};

// The hosts the first of these names: --hosts, the project's quarn.toml, QUARN_HOSTS, the user's
// DISTCC_HOSTS. nullopt when none is set or the first set lists no host ("" builds here).
std::optional<Cluster> askedCluster(const Project& project, const CommandOptions& options,
                                    const Environment& environment);

// Tries every Tcp host of `cluster` at once: each must take a TCP connection within `limit`, its
// name resolved within it too, so that twenty hosts cost what one does.
void checkHosts(Cluster& cluster, std::chrono::milliseconds limit = std::chrono::seconds(1));

// The folder distcc keeps its locks and state in for the builds quarn starts.
std::string distccDirectory();

}  // namespace quarn
