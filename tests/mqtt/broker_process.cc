#include "tests/mqtt/broker_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <thread>

namespace velmocair::testing {
namespace {

constexpr std::chrono::seconds kToolLimit{60};
constexpr std::chrono::seconds kStartLimit{20};
constexpr std::chrono::milliseconds kPollEvery{20};
constexpr std::chrono::seconds kStopGrace{5};

bool accepts_connections(int port) {
  const int sock = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(sock);
  return ok;
}

}  // namespace

void run_tool(const std::vector<std::string>& argv, const std::string& log_path) {
  ChildProcess tool(argv, log_path, log_path, Runs::on_machine);
  if (tool.wait(kToolLimit) != 0) {
    throw std::runtime_error(argv.front() + " failed: " + read_file(log_path));
  }
}

BrokerProcess::BrokerProcess(Options options) : options_(options) {
  port_ = closed_tcp_port();
  if (options_.with_tls) {
    tls_port_ = closed_tcp_port();
    make_certificates();
  }
  if (options_.with_users) {
    run_tool({"mosquitto_passwd", "-b", "-c", path("passwords"), kUser, kPassword},
             path("passwd.log"));
  }
  write_configuration();
  start();
}

BrokerProcess::~BrokerProcess() { stop(); }

void BrokerProcess::make_certificates() {
  const std::string log = path("openssl.log");
  const auto key = [&](const std::string& name) {
    run_tool({"openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", path(name)},
             log);
  };
  const auto ca = [&](const std::string& name) {
    key(name + ".key");
    run_tool({"openssl", "req", "-x509", "-new", "-key", path(name + ".key"), "-out",
              path(name + ".crt"), "-days", "3650", "-subj", "/CN=" + name},
             log);
  };
  ca("ca");
  ca("other-ca");
  key("server.key");
  run_tool({"openssl", "req", "-new", "-key", path("server.key"), "-out", path("server.csr"),
            "-subj", "/CN=127.0.0.1"},
           log);
  write_file(path("server.ext"), "subjectAltName=IP:127.0.0.1\n");
  run_tool({"openssl", "x509", "-req", "-in", path("server.csr"), "-CA", path("ca.crt"), "-CAkey",
            path("ca.key"), "-CAcreateserial", "-out", path("server.crt"), "-days", "3650",
            "-extfile", path("server.ext")},
           log);
}

void BrokerProcess::write_configuration() {
  std::string text =
      "per_listener_settings false\n"
      "user root\n"
      "max_queued_messages 0\n"
      "log_dest stderr\n"
      "log_type error\n"
      "log_type warning\n"
      "log_type notice\n";
  text += options_.persistent
              ? "persistence true\npersistence_location " + path("") + "\nautosave_interval 0\n"
              : "persistence false\n";
  text += options_.with_users ? "allow_anonymous false\npassword_file " + path("passwords") + "\n"
                              : "allow_anonymous true\n";
  text += "listener " + std::to_string(port_) + " 127.0.0.1\n";
  if (options_.with_tls) {
    text += "listener " + std::to_string(tls_port_) + " 127.0.0.1\ncafile " + ca_file() +
            "\ncertfile " + path("server.crt") + "\nkeyfile " + path("server.key") + "\n";
  }
  write_file(path("mosquitto.conf"), text);
}

void BrokerProcess::start() {
  process_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"mosquitto", "-c", path("mosquitto.conf")}, path("broker.out"),
      path("broker.err"), Runs::on_machine);
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (!accepts_connections(port_)) {
    if (process_->ended() || std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("mosquitto did not start: " + read_file(path("broker.err")));
    }
    std::this_thread::sleep_for(kPollEvery);
  }
}

void BrokerProcess::stop() {
  if (process_ && process_->running()) {
    process_->terminate(kStopGrace);
  }
  process_.reset();
}

}  // namespace velmocair::testing
