#include "cli/runtime/interrupt.h"

#include <csignal>

namespace velmocair::cli {
namespace {

volatile std::sig_atomic_t stop_requested = 0;

extern "C" void request_stop(int /*signal*/) { stop_requested = 1; }

}  // namespace

void install_signal_handlers() {
  std::signal(SIGINT, request_stop);
  std::signal(SIGTERM, request_stop);
  std::signal(SIGPIPE, SIG_IGN);
  // A file size limit the history reaches fails its writes (counted and
  // reported) instead of ending the host.
  std::signal(SIGXFSZ, SIG_IGN);
}

bool interrupted() { return stop_requested != 0; }

}  // namespace velmocair::cli
