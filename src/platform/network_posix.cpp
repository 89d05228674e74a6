#include "platform/network.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cerrno>
#include <memory>

#include "platform/system_posix.hpp"

namespace quarn::platform {

namespace {

using Clock = std::chrono::steady_clock;

// A socket that neither blocks on connect nor passes to the build quarn starts.
bool prepare(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

// Whether the connection that `fd` has begun is made before `deadline`.
bool connectedBy(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd entry{fd, POLLOUT, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
  }
}

}  // namespace

bool acceptsConnection(const std::string& host, std::uint16_t port, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> addresses(found, ::freeaddrinfo);
  for (const addrinfo* address = found; address != nullptr; address = address->ai_next) {
    if (Clock::now() >= deadline) return false;
    const FileDescriptor fd(
        ::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
    if (fd.get() < 0 || !prepare(fd.get())) continue;
    if (::connect(fd.get(), address->ai_addr, address->ai_addrlen) == 0) return true;
    // Interrupted, a non-blocking connect goes on by itself.
    if (errno != EINPROGRESS && errno != EINTR) continue;
    if (connectedBy(fd.get(), deadline)) return true;
  }
  return false;
}

}  // namespace quarn::platform
