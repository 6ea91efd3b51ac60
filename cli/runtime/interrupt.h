#pragma once

namespace velmocair::cli {

// SIGINT and SIGTERM ask the host to stop after the exchange in progress;
// SIGPIPE is ignored so that a closed output never kills the host.
void install_signal_handlers();
bool interrupted();

}  // namespace velmocair::cli
