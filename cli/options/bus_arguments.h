#pragma once

#include <string>
#include <vector>

#include "host/services/bus_address.h"

namespace velmocair::cli {

// The velmocair-host options that name a bus: --tcp HOST:PORT, or --rtu
// DEVICE with the RS-485 options it was given and, when `line_settings` is
// set, its baud rate, parity and stop bits.
std::vector<std::string> bus_arguments(const sitehost::BusAddress& bus, bool line_settings);

// The words as a POSIX shell reads them back: joined with spaces, each
// quoted where it needs it.
std::string shell_words(const std::vector<std::string>& words);

}  // namespace velmocair::cli
