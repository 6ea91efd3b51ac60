#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/services/bus_address.h"
#include "host/services/line_settings.h"

namespace velmocair::cli {

// Parsers for option and site-file values. Each throws UsageError naming
// `what` and the accepted form.
int parse_int(const std::string& text, int low, int high, const std::string& what);
std::uint32_t parse_data_id(const std::string& text, const std::string& what);
// Seconds from 0 to `most`.
double parse_seconds(const std::string& text, double most, const std::string& what);
sitehost::TcpEndpoint parse_endpoint(const std::string& text, const std::string& what);
// "none", "even" or "odd" (or N, E, O; in any case) to libmodbus's 'N', 'E', 'O'.
char parse_parity(const std::string& text, const std::string& what);
// One of kBaudRates.
int parse_baud(const std::string& text, const std::string& what);
// The name of a parity code: "none", "even" or "odd".
const char* parity_name(char code);
// "A,B,C" into its items, none of them empty.
std::vector<std::string> split_list(const std::string& text, const std::string& what);
// Unit addresses "1,5,9-12": items "N" or "A-B" within kMinUnitId..kMaxUnitId,
// in the order given, none twice.
std::vector<int> parse_unit_ids(const std::string& text, const std::string& what);

// A period such as "30d" or "12h": a whole number of s, m, h, d or w, as
// seconds, from kMinKeepSeconds to kMaxKeepSeconds.
std::int64_t parse_duration(const std::string& text, const std::string& what);
// A size such as "500MB" or "1.5GiB": a number and B, kB, MB, GB, TB
// (powers of 1000) or KiB, MiB, GiB, TiB (powers of 1024), as bytes, from
// kMinHistoryBytes to kMaxHistoryBytes; the unit's letters in any case.
std::int64_t parse_size(const std::string& text, const std::string& what);
// A local time "YYYY-MM-DD", "YYYY-MM-DD HH:MM" or "YYYY-MM-DD HH:MM:SS" (or
// with T between date and time), in the history's stored form
// "YYYY-MM-DD HH:MM:SS".
std::string parse_local_time(const std::string& text, const std::string& what);

bool is_baud_rate(int rate);
// The rates of kBaudRates for messages: "110, 300, ..., 4000000".
std::string baud_rate_list();

// Ranges of the values above.
using sitehost::kMaxDataBits;
using sitehost::kMaxPort;
using sitehost::kMaxStopBits;
using sitehost::kMaxUnitId;
using sitehost::kMinDataBits;
using sitehost::kMinPort;
using sitehost::kMinStopBits;
using sitehost::kMinUnitId;
// Over TCP a unit is also addressed as 0 or 255 (a unit addressed directly).
inline constexpr int kMinTcpUnitId = 0;
inline constexpr int kMaxTcpUnitId = 255;
// A response time-out and the retries of an exchange, at most.
inline constexpr int kMaxTimeoutMs = 60000;
inline constexpr int kMaxRetries = 10;
inline constexpr int kMaxRtsDelayUs = 1000000;
inline constexpr std::int64_t kMinKeepSeconds = 60;
inline constexpr std::int64_t kMaxKeepSeconds = 3650LL * 86400;
inline constexpr std::int64_t kMinHistoryBytes = 1000000;
inline constexpr std::int64_t kMaxHistoryBytes = 1000000000000000LL;

}  // namespace velmocair::cli
