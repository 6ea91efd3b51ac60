// velmocair-sim: the unit simulator as a program.
#include <signal.h>

#include <cstdio>
#include <exception>
#include <stdexcept>

#include "simulator/command_line.h"
#include "simulator/server.h"

namespace {

constexpr int kExitCannotStart = 1;
constexpr int kExitBadOption = 2;

}  // namespace

int main(int argc, char** argv) {
  velmocair::sim::CommandLine line;
  try {
    line = velmocair::sim::parse_command_line(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::invalid_argument& error) {
    std::fprintf(stderr, "velmocair-sim: %s\n", error.what());
    return kExitBadOption;
  }
  if (line.help) {
    std::fputs(velmocair::sim::usage_text(), stdout);
    return 0;
  }
  if (line.version) {
    std::fputs(velmocair::sim::version_line(), stdout);
    return 0;
  }
  // Serving threads inherit the mask, so only sigwait below sees these.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  line.options.on_early_request = [](const std::string& what) {
    std::fprintf(stderr, "velmocair-sim: %s\n", what.c_str());
  };
  try {
    velmocair::sim::Server server(line.options);
    server.start();
    if (server.tcp_port() >= 0) {
      std::printf("listening tcp %s:%d\n", line.options.tcp_host.c_str(), server.tcp_port());
    }
    if (!server.pty_path().empty()) {
      std::printf("listening rtu %s\n", server.pty_path().c_str());
    }
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    server.stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "velmocair-sim: %s\n", error.what());
    return kExitCannotStart;
  }
  return 0;
}
