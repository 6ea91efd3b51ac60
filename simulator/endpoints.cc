#include "simulator/endpoints.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace velmocair::sim {
namespace {

constexpr int kBacklog = 16;
constexpr std::size_t kPathCapacity = 128;

[[noreturn]] void fail_system(const std::string& reason) {
  throw std::runtime_error(system_error_text(reason));
}

sockaddr_in resolve(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc != 0) {
    throw std::runtime_error("cannot resolve " + host + ": " + ::gai_strerror(rc));
  }
  const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(found, ::freeaddrinfo);
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

TcpListener listen_tcp(const std::string& host, int port) {
  const std::string where = host + ":" + std::to_string(port);
  const sockaddr_in address = resolve(host, port);
  TcpListener listener;
  listener.socket = FileDescriptor(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener.socket) {
    fail_system("cannot open a TCP socket");
  }
  const int on = 1;
  ::setsockopt(listener.socket.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (::bind(listener.socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
      0) {
    fail_system("cannot listen on " + where);
  }
  if (::listen(listener.socket.get(), kBacklog) != 0) {
    fail_system("cannot listen on " + where);
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  if (::getsockname(listener.socket.get(), reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
    fail_system("cannot read the port of " + where);
  }
  listener.port = ntohs(bound.sin_port);
  return listener;
}

Pty open_pty() {
  Pty pty;
  pty.master = FileDescriptor(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
  if (!pty.master) {
    fail_system("cannot open a pseudo-terminal");
  }
  std::array<char, kPathCapacity> path{};
  if (::grantpt(pty.master.get()) != 0 || ::unlockpt(pty.master.get()) != 0 ||
      ::ptsname_r(pty.master.get(), path.data(), path.size()) != 0) {
    fail_system("cannot set up the pseudo-terminal");
  }
  pty.path = path.data();
  pty.slave = FileDescriptor(::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!pty.slave) {
    fail_system("cannot open " + pty.path);
  }
  termios raw{};
  if (::tcgetattr(pty.slave.get(), &raw) != 0) {
    fail_system("cannot read the settings of " + pty.path);
  }
  ::cfmakeraw(&raw);
  if (::tcsetattr(pty.slave.get(), TCSANOW, &raw) != 0) {
    fail_system("cannot set " + pty.path + " to raw mode");
  }
  return pty;
}

}  // namespace velmocair::sim
