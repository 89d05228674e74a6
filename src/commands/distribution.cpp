#include "commands/distribution.hpp"

#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/environment.hpp"
#include "platform/network.hpp"

namespace quarn {

namespace {

using Clock = std::chrono::steady_clock;

// What the checks share with the threads that run them; a thread still resolving a name when
// the wait is over keeps it alive and writes into it unheard.
struct Answers {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<bool> reachable;
  std::size_t pending = 0;
};

}  // namespace

std::vector<const BuildHost*> Cluster::usable() const {
  std::vector<const BuildHost*> list;
  for (const BuildHost& host : hosts) {
    if (host.entry.form != HostEntry::Form::Option && host.reachable) list.push_back(&host);
  }
  return list;
}

std::vector<std::string> Cluster::unreachable() const {
  std::vector<std::string> list;
  for (const BuildHost& host : hosts) {
    if (!host.reachable) list.push_back(host.entry.text);
  }
  return list;
}

std::string Cluster::hostList(unsigned processors) const {
  std::string list;
  bool local = false;
  for (const BuildHost& host : hosts) {
    if (!host.reachable) continue;
    local = local || host.entry.local;
    list += (list.empty() ? "" : " ") + host.entry.text;
  }
  if (!local) list += (list.empty() ? "" : " ") + ("localhost/" + std::to_string(processors));
  return list;
}

unsigned Cluster::slots(unsigned processors) const {
  unsigned count = 0;
  bool local = false;
  for (const BuildHost* host : usable()) {
    local = local || host->entry.local;
    count += host->entry.slots;
  }
  return local ? count : count + processors;
}

std::optional<Cluster> askedCluster(const Project& project, const CommandOptions& options,
                                    const Environment& environment) {
  Cluster cluster;
  std::vector<std::string> words;
  if (options.hosts) {
    cluster.source = "--hosts";
    cluster.asked = true;
    words = hostWords(*options.hosts);
  } else if (project.settings && project.settings->hosts) {
    cluster.source = project.settings->file;
    cluster.asked = true;
    words = *project.settings->hosts;
  } else {
    for (const char* name : {"QUARN_HOSTS", "DISTCC_HOSTS"}) {
      if (!environment.isSet(name)) continue;
      cluster.source = name;
      words = hostWords(*environment.variable(name));
      break;
    }
    if (cluster.source.empty()) return std::nullopt;
  }
  for (const std::string& word : words) {
    std::string error;
    if (std::optional<HostEntry> entry = readHostEntry(word, error)) {
      cluster.hosts.push_back({std::move(*entry)});
    } else {
      cluster.unreadable.push_back(error);
    }
  }
  if (cluster.usable().empty()) return std::nullopt;
  return cluster;
}

void checkHosts(Cluster& cluster, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  const auto answers = std::make_shared<Answers>();
  answers->reachable.assign(cluster.hosts.size(), false);
  for (std::size_t i = 0; i < cluster.hosts.size(); ++i) {
    const HostEntry& entry = cluster.hosts[i].entry;
    if (entry.form != HostEntry::Form::Tcp) continue;
    cluster.hosts[i].checked = true;
    const auto check = [answers, i, host = entry.host, port = entry.port, deadline] {
      const bool reachable = platform::acceptsConnection(host, port, deadline);
      const std::lock_guard<std::mutex> lock(answers->mutex);
      answers->reachable[i] = reachable;
      --answers->pending;
      answers->changed.notify_all();
    };
    {
      const std::lock_guard<std::mutex> lock(answers->mutex);
      ++answers->pending;
    }
    try {
      std::thread(check).detach();
    } catch (const std::system_error&) {
      check();  // no thread to be had: checked here, the name's resolution unbounded
    }
  }
  std::unique_lock<std::mutex> lock(answers->mutex);
  answers->changed.wait_until(lock, deadline, [&] { return answers->pending == 0; });
  for (std::size_t i = 0; i < cluster.hosts.size(); ++i) {
    if (cluster.hosts[i].checked) cluster.hosts[i].reachable = answers->reachable[i];
  }
}

std::string distccDirectory() {
  std::error_code error;
  const std::filesystem::path folder = std::filesystem::path(platform::dataDirectory()) / "distcc";
  const std::filesystem::path absolute = std::filesystem::absolute(folder, error);
  return (error ? folder : absolute).string();
}

}  // namespace quarn
