#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>

#include "platform/network.hpp"

namespace quarn::platform {

namespace {

using Clock = std::chrono::steady_clock;

class Socket {
 public:
  explicit Socket(SOCKET socket) : socket_(socket) {}
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  ~Socket() {
    if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
  }
  SOCKET get() const { return socket_; }

 private:
  SOCKET socket_;
};

// Winsock, started once for the process and left to its end: a check may still be running on a
// thread nobody waits for.
bool winsockReady() {
  static const bool ready = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return ready;
}

// Whether the connection that `socket` has begun is made before `deadline`; a refused one is
// reported in the exception set.
bool connectedBy(SOCKET socket, Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now()).count();
  if (left <= 0) return false;
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket, &writable);
  FD_SET(socket, &failed);
  timeval wait{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
  const int ready = ::select(0, nullptr, &writable, &failed, &wait);
  if (ready <= 0 || FD_ISSET(socket, &failed)) return false;
  int error = 0;
  int size = sizeof error;
  return FD_ISSET(socket, &writable) &&
         ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) == 0 &&
         error == 0;
}

}  // namespace

bool acceptsConnection(const std::string& host, std::uint16_t port, Clock::time_point deadline) {
  if (!winsockReady()) return false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return false;
  bool accepted = false;
  for (const addrinfo* address = found; address != nullptr && !accepted;
       address = address->ai_next) {
    if (Clock::now() >= deadline) break;
    const Socket socket(::socket(address->ai_family, address->ai_socktype, address->ai_protocol));
    u_long nonBlocking = 1;
    if (socket.get() == INVALID_SOCKET || ::ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) {
      continue;
    }
    if (::connect(socket.get(), address->ai_addr, static_cast<int>(address->ai_addrlen)) == 0) {
      accepted = true;
    } else if (::WSAGetLastError() == WSAEWOULDBLOCK) {
      accepted = connectedBy(socket.get(), deadline);
    }
  }
  ::freeaddrinfo(found);
  return accepted;
}

}  // namespace quarn::platform
