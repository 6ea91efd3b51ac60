#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tests/support/child_process.h"

namespace velmocair::testing {

// Debian's mosquitto on a free loopback port with a configuration of its
// own, started and stopped by the test. With `with_users`, anonymous
// clients are refused and the password file holds kUser/kPassword; with
// `with_tls`, a second listener takes TLS with a server certificate for
// 127.0.0.1 signed by a CA made for the test (ca_file()); other_ca_file()
// is a CA that signed nothing the broker shows.
class BrokerProcess {
 public:
  struct Options {
    bool with_users = false;
    bool with_tls = false;
    bool persistent = false;
  };
  static constexpr char kUser[] = "velmocair";
  static constexpr char kPassword[] = "pass-word";

  explicit BrokerProcess(Options options);
  BrokerProcess() : BrokerProcess(Options{}) {}
  ~BrokerProcess();

  int port() const { return port_; }
  int tls_port() const { return tls_port_; }
  std::string url() const { return "mqtt://127.0.0.1:" + std::to_string(port_); }
  std::string ca_file() const { return scratch_.path("ca.crt"); }
  std::string other_ca_file() const { return scratch_.path("other-ca.crt"); }
  std::string path(const std::string& name) const { return scratch_.path(name); }

  // Stops the broker (SIGTERM) and starts it again on the same ports. Unless
  // persistent it keeps no state: retained messages are gone.
  void stop();
  void start();
  void restart() {
    stop();
    start();
  }

 private:
  void write_configuration();
  void make_certificates();

  Options options_;
  ScratchFolder scratch_;
  int port_ = 0;
  int tls_port_ = 0;
  std::unique_ptr<ChildProcess> process_;
};

// Runs a program of the machine (openssl, mosquitto_passwd) and waits for it;
// throws when it fails.
void run_tool(const std::vector<std::string>& argv, const std::string& log_path);

}  // namespace velmocair::testing
