// The distcc host lists quarn reads, the makefile assignments that keep distcc out, and the
// check of the hosts: all at once, within its limit.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "commands/distribution.hpp"
#include "project/hosts.hpp"
#include "project/makefile.hpp"

namespace quarn {
namespace {

using Form = HostEntry::Form;

TEST(Hosts, ReadsWhatDistccReadsAndRefusesTheRest) {
  struct Case {
    const char* text;
    Form form;
    const char* host;
    unsigned port;
    unsigned slots;
    const char* error;  // empty: read
  };
  const char* const port = "the port after ':' must be a number from 1 to 65535";
  const char* const limit = "the limit after '/' must be a whole number of 1 or more";
  const Case cases[] = {
      {"build1", Form::Tcp, "build1", 3632, 4, ""},
      {"build1/8", Form::Tcp, "build1", 3632, 8, ""},
      {"10.0.0.7:3633/4", Form::Tcp, "10.0.0.7", 3633, 4, ""},
      {"10.0.0.7/4:3633", Form::Tcp, "10.0.0.7", 3633, 4, ""},
      {"[::1]:4000/3", Form::Tcp, "::1", 4000, 3, ""},
      {"localhost", Form::Unchecked, "localhost", 3632, 2, ""},
      {"localhost/6", Form::Unchecked, "localhost", 3632, 6, ""},
      {"@farm/8", Form::Unchecked, "farm", 3632, 8, ""},
      {"me@farm/2:/opt/bin/distccd,lzo", Form::Unchecked, "farm", 3632, 2, ""},
      {"build1:3633/4,lzo,cpp", Form::Unchecked, "build1", 3633, 4, ""},
      {"--randomize", Form::Option, "", 3632, 0, ""},
      {"--localslots=3", Form::Option, "", 3632, 0, ""},
      {"+zeroconf", Form::Option, "", 3632, 0, ""},
      {"", Form::Tcp, "", 0, 0, "'' is no distcc host: it is empty"},
      {":3632", Form::Tcp, "", 0, 0, "':3632' is no distcc host: it names no host"},
      {"b:x", Form::Tcp, "", 0, 0, port},
      {"b:0", Form::Tcp, "", 0, 0, port},
      {"b:65536", Form::Tcp, "", 0, 0, port},
      {"b/0", Form::Tcp, "", 0, 0, limit},
      {"b/", Form::Tcp, "", 0, 0, limit},
      {"b:1:2", Form::Tcp, "", 0, 0, "'b:1:2' is no distcc host: ':' is out of place"},
      {"[::1", Form::Tcp, "", 0, 0,
       "'[::1' is no distcc host: an IPv6 address needs its closing ']'"},
      {"--fast", Form::Tcp, "", 0, 0, "'--fast' is no distcc host: distcc knows no such option"},
      {"--localslots=x", Form::Tcp, "", 0, 0,
       "'--localslots=x' is no distcc host: it needs a whole number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string error;
    const std::optional<HostEntry> entry = readHostEntry(c.text, error);
    if (*c.error != '\0') {
      EXPECT_FALSE(entry);
      // The messages that name only the fault begin with the entry.
      EXPECT_NE(error.find(c.error), std::string::npos) << error;
      continue;
    }
    ASSERT_TRUE(entry) << error;
    EXPECT_EQ(entry->text, c.text);
    EXPECT_EQ(entry->form, c.form);
    if (c.form == Form::Option) continue;
    EXPECT_EQ(entry->host, c.host);
    EXPECT_EQ(entry->port, c.port);
    EXPECT_EQ(entry->slots, c.slots);
  }
  EXPECT_EQ(hostWords(" a/8\tb:3633/4\n "), (std::vector<std::string>{"a/8", "b:3633/4"}));
}

TEST(Makefile, AnAssignmentOfTheVariableOverridesTheEnvironment) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"CC = gcc\n", "gcc"},
      {"CC:=clang # the fast one\n", "clang"},
      {"override CC ::= cc\n", "cc"},
      {"export CC = gcc\nCC = ccache gcc\n", "ccache gcc"},
      {"CC ?= gcc\n", std::nullopt},
      {"CC += -O2\n", std::nullopt},
      {"CCACHE = 1\n", std::nullopt},
      {"all:\n\tCC=gcc make x\n", std::nullopt},
      {"prog: CC = gcc\n", std::nullopt},
      {"define CC\ngcc\nendef\n", std::nullopt},
      {"override define FLAGS\nCC = gcc\nendef\n", std::nullopt},
      {"CC = \\\n  gcc\n", "gcc"},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(assignedValue(text, "CC"), value) << text;
  }
}

// A socket of the test's, closed at the end.
struct Socket {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  ~Socket() {
    if (fd >= 0) ::close(fd);
  }
};

// Listens on `address` at a port of the system's choosing; returns the port, 0 on failure.
std::uint16_t listenOn(const Socket& socket, const char* address, int backlog) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  if (socket.fd < 0 || ::inet_pton(AF_INET, address, &where.sin_addr) != 1 ||
      ::bind(socket.fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
      ::listen(socket.fd, backlog) != 0) {
    return 0;
  }
  socklen_t size = sizeof where;
  if (::getsockname(socket.fd, reinterpret_cast<sockaddr*>(&where), &size) != 0) return 0;
  return ntohs(where.sin_port);
}

TEST(Hosts, EveryHostIsCheckedAtOnceWithinItsLimit) {
  const Socket daemon;
  const std::uint16_t open = listenOn(daemon, "127.0.0.2", 16);
  // A listener whose queue is full: the connections after the first wait for ever.
  const Socket full;
  const std::uint16_t silent = listenOn(full, "127.0.0.5", 0);
  ASSERT_NE(open, 0u);
  ASSERT_NE(silent, 0u);
  const Socket first;
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(silent);
  ASSERT_EQ(::inet_pton(AF_INET, "127.0.0.5", &where.sin_addr), 1);
  ASSERT_EQ(::connect(first.fd, reinterpret_cast<sockaddr*>(&where), sizeof where), 0);

  Cluster cluster;
  const auto add = [&cluster](const std::string& text) {
    std::string error;
    cluster.hosts.push_back({*readHostEntry(text, error)});
  };
  add("127.0.0.2:" + std::to_string(open) + "/2");
  add("127.0.0.2:1");  // refused at once
  add("@farm/8");      // over ssh: not checked
  for (int i = 0; i < 20; ++i) add("127.0.0.5:" + std::to_string(silent));
  const auto start = std::chrono::steady_clock::now();
  checkHosts(cluster, std::chrono::milliseconds(500));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_GE(took, std::chrono::milliseconds(450));
  EXPECT_LT(took, std::chrono::milliseconds(900)) << "the hosts were not checked at once";
  EXPECT_TRUE(cluster.hosts[0].checked && cluster.hosts[0].reachable);
  EXPECT_TRUE(cluster.hosts[1].checked && !cluster.hosts[1].reachable);
  EXPECT_TRUE(!cluster.hosts[2].checked && cluster.hosts[2].reachable);
  for (std::size_t i = 3; i < cluster.hosts.size(); ++i) EXPECT_FALSE(cluster.hosts[i].reachable);
  EXPECT_EQ(cluster.usable().size(), 2u);
  EXPECT_EQ(cluster.hostList(3), "127.0.0.2:" + std::to_string(open) + "/2 @farm/8 localhost/3");
}

}  // namespace
}  // namespace quarn
