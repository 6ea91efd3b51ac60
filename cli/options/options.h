#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/options/mqtt_request.h"

namespace velmocair::cli {

// What velmocair-host does, a row each in cli/modes/mode_table.h; `history`
// alone only shows its help.
enum class Mode : unsigned char { poll, command, decode, history, export_rows, alarms, plot, scan };

// Rows a history command writes out.
// JSON lines: one object per row, or (compact) a first line naming the
// columns, then one array of values per row in that order.
enum class ExportFormat : unsigned char { csv, jsonl, jsonl_compact };

// Where the units come from: a site file, one unit from flags, or (neither)
// the built-in simulator.
struct UnitFlags {
  std::string site_file;
  std::string tcp;  // HOST:PORT
  std::string rtu;  // serial device
  std::optional<int> unit_id;
  std::optional<int> baud;
  std::optional<char> parity;
  std::optional<int> data_bits;
  std::optional<int> stop_bits;
  std::optional<std::uint32_t> data_id;
  std::string unit_name;  // the site-file unit a command goes to
  bool rs485 = false;     // RS-485 direction control by RTS on --rtu
  std::optional<bool> rts_up;
  std::optional<int> rts_delay_us;
};

// What `scan` probes: line settings (empty: the defaults) and unit addresses.
struct ScanFlags {
  std::vector<int> bauds;
  std::vector<char> parities;
  std::vector<int> unit_ids;  // empty: 1..247
  std::string unit_ids_text = "1-247";
  bool first = false;  // stop at the first unit found
};

struct HostOptions {
  Mode mode = Mode::poll;
  bool help = false;
  bool version = false;
  UnitFlags units;
  std::optional<int> cycles;  // poll: until interrupted; command: none after it
  double interval_seconds = 1.0;
  std::optional<int> timeout_ms;  // none: the time-out follows the line
  std::optional<int> retries;     // none: sitehost::kDefaultRetries
  std::string history;
  std::optional<std::int64_t> history_keep_seconds;
  std::optional<std::int64_t> history_max_bytes;
  std::string plugin;
  std::string trace;
  bool status = false;  // print each completed cycle's 801 text
  bool view = false;    // print the readable view even when not on a terminal
  bool stats = false;   // print each unit's link statistics at the end
  MqttRequest mqtt;     // poll: --mqtt URL, --mqtt-read-only
  // command
  std::string action;
  std::optional<int> value;
  bool json = false;  // command: the JSON form; scan: JSON lines
  ScanFlags scan;
  // decode
  std::string record_file;
  // history export, alarms and plot: the period in the stored time form,
  // empty when open
  std::string from;
  std::string to;
  ExportFormat format = ExportFormat::csv;
  bool bom = false;
  bool utc = false;                 // export: times in UTC rather than local with their offset
  std::vector<std::string> values;  // plot
  std::string output;               // empty: standard output (export, alarms)
};

// A mode: the word that names it, its help and what runs it. The rows are
// cli/modes/mode_table.h; option parsing, the help and main walk them.
struct ModeRow {
  Mode mode;
  const char* word;                // null: the mode no word names (poll)
  const char* after;               // the word it follows ("history"), or null
  std::string (*help)();           // its usage and what it does
  const char* exits;               // its exit statuses
  int (*run)(const HostOptions&);  // null: a word that only groups the ones after it
};

// The rows of every mode, a mode's row at its value.
struct ModeTable {
  const ModeRow* rows;
  std::size_t size;
  const ModeRow* begin() const { return rows; }
  const ModeRow* end() const { return rows + size; }
  const ModeRow& operator[](Mode mode) const { return rows[static_cast<std::size_t>(mode)]; }
};

// Parses the arguments after the program name. Throws UsageError.
HostOptions parse_options(const std::vector<std::string>& arguments, const ModeTable& modes);

// The --help text of a mode.
std::string help_text(const ModeTable& modes, Mode mode);

// The --version line: the program's name and the project's version.
std::string version_line();

}  // namespace velmocair::cli
