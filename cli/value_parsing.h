#pragma once

#include <cstdint>
#include <string>

#include "host/services/bus_address.h"

namespace velmocair::cli {

// Parsers for option and site-file values. Each throws UsageError naming
// `what` and the accepted form.
int parse_int(const std::string& text, int low, int high, const std::string& what);
std::uint32_t parse_data_id(const std::string& text, const std::string& what);
// Seconds from 0 to `most`.
double parse_seconds(const std::string& text, double most, const std::string& what);
sitehost::TcpEndpoint parse_endpoint(const std::string& text, const std::string& what);
// "none", "even" or "odd" (or N, E, O) to libmodbus's 'N', 'E', 'O'.
char parse_parity(const std::string& text, const std::string& what);
// One of kBaudRates.
int parse_baud(const std::string& text, const std::string& what);

bool is_baud_rate(int rate);
// The rates of kBaudRates for messages: "110, 300, ..., 4000000".
std::string baud_rate_list();

// Ranges of the values above.
inline constexpr int kMinUnitId = 1;
inline constexpr int kMaxUnitId = 247;
inline constexpr int kMinPort = 1;
inline constexpr int kMaxPort = 65535;
inline constexpr int kMinDataBits = 5;
inline constexpr int kMaxDataBits = 8;
inline constexpr int kMinStopBits = 1;
inline constexpr int kMaxStopBits = 2;

}  // namespace velmocair::cli
