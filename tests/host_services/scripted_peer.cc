#include "tests/host_services/scripted_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

#include "host/services/adu.h"

namespace peer {
namespace {

constexpr std::size_t kRtuRequestLength = 8;  // address, function, two words, CRC
constexpr std::size_t kMbapHeader = 6;
constexpr int kPollMs = 20;

// Waits for `fd` (or the wake pipe) to be readable; false when woken to stop.
bool readable(int fd, int wake) {
  while (true) {
    pollfd watched[2] = {
        {fd,   POLLIN, 0},
        {wake, POLLIN, 0}
    };
    const int ready = ::poll(watched, 2, kPollMs);
    if (ready > 0) {
      return (watched[1].revents & POLLIN) == 0;
    }
  }
}

}  // namespace

Bytes rtu(Bytes body) {
  const std::uint16_t crc = sitehost::modbus_crc16(body.data(), body.size());
  body.push_back(static_cast<unsigned char>(crc & 0xFF));
  body.push_back(static_cast<unsigned char>(crc >> 8));
  return body;
}

Bytes tcp(unsigned transaction, unsigned unit, const Bytes& pdu) {
  const std::size_t length = pdu.size() + 1;
  Bytes adu{static_cast<unsigned char>(transaction >> 8),
            static_cast<unsigned char>(transaction),
            0,
            0,
            static_cast<unsigned char>(length >> 8),
            static_cast<unsigned char>(length),
            static_cast<unsigned char>(unit)};
  for (const unsigned char byte : pdu) {
    adu.push_back(byte);
  }
  return adu;
}

unsigned transaction_of(const Bytes& request) {
  return static_cast<unsigned>((request[0] << 8) | request[1]);
}

ScriptedPeer::ScriptedPeer(Kind kind, Responder responder)
    : kind_(kind), responder_(std::move(responder)) {
  if (::pipe2(wake_, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe");
  }
  if (kind_ == Kind::rtu) {
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    path_ = ::ptsname(fd_);
    // Raw from the start, so that no byte is echoed or translated before the
    // master sets the line up.
    const int slave = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios settings{};
    ::tcgetattr(slave, &settings);
    ::cfmakeraw(&settings);
    ::tcsetattr(slave, TCSANOW, &settings);
    ::close(slave);
    thread_ = std::thread([this] { serve_rtu(); });
    return;
  }
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(fd_, 4) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no listener");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve_tcp(); });
}

ScriptedPeer::~ScriptedPeer() {
  stop_ = true;
  const char byte = 0;
  [[maybe_unused]] const ssize_t written = ::write(wake_[1], &byte, 1);
  thread_.join();
  if (fd_ >= 0) {
    ::close(fd_);
  }
  ::close(wake_[0]);
  ::close(wake_[1]);
}

sitehost::BusAddress ScriptedPeer::bus(int baud) const {
  sitehost::BusAddress address;
  if (kind_ == Kind::rtu) {
    address.kind = sitehost::BusAddress::rtu;
    address.line.device = path_;
    address.line.baud = baud;
  } else {
    address.endpoint = {"127.0.0.1", port_};
  }
  return address;
}

std::vector<Bytes> ScriptedPeer::requests() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool ScriptedPeer::read_request(int fd, Bytes& request) {
  request.clear();
  std::size_t wanted = kind_ == Kind::rtu ? kRtuRequestLength : kMbapHeader;
  while (request.size() < wanted) {
    if (!readable(fd, wake_[0])) {
      return false;
    }
    unsigned char buffer[256];
    const ssize_t got = ::read(fd, buffer, wanted - request.size());
    if (got < 0 && kind_ == Kind::rtu && errno == EIO) {
      // No one has the terminal open now: the master reopens it.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (got <= 0) {
      if (got < 0 && errno == EAGAIN) {
        continue;
      }
      return false;
    }
    request.insert(request.end(), buffer, buffer + got);
    if (kind_ == Kind::tcp && request.size() == kMbapHeader) {
      wanted = kMbapHeader + static_cast<std::size_t>((request[4] << 8) | request[5]);
    }
  }
  return true;
}

bool ScriptedPeer::play(int fd, const Script& script) {
  for (const Step& step : script) {
    std::this_thread::sleep_for(step.pause);
    // A connection the master dropped must not end the test by SIGPIPE.
    const ssize_t written = step.bytes.empty() ? 0
                            : kind_ == Kind::tcp
                                ? ::send(fd, step.bytes.data(), step.bytes.size(), MSG_NOSIGNAL)
                                : ::write(fd, step.bytes.data(), step.bytes.size());
    if (written != static_cast<ssize_t>(step.bytes.size())) {
      return false;
    }
    if (step.close) {
      return false;
    }
  }
  return true;
}

void ScriptedPeer::serve_rtu() {
  int index = 0;
  Bytes request;
  while (!stop_ && read_request(fd_, request)) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(request);
    }
    if (!play(fd_, responder_(request, index++))) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
  }
}

void ScriptedPeer::serve_tcp() {
  int index = 0;
  while (!stop_ && readable(fd_, wake_[0])) {
    const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) {
      continue;
    }
    ++connections_;
    // Each step goes out when the script says, not when an ACK allows.
    const int one = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Bytes request;
    while (!stop_ && read_request(connection, request)) {
      {
        const std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      if (!play(connection, responder_(request, index++))) {
        break;
      }
    }
    ::close(connection);
  }
}

}  // namespace peer
