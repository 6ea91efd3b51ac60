#include "cli/options/options.h"

#include <algorithm>
#include <sstream>

#include "cli/mqtt/broker_settings.h"
#include "cli/options/command_actions.h"
#include "cli/options/exit_status.h"
#include "cli/options/value_parsing.h"

namespace velmocair::cli {
namespace {

constexpr unsigned bit(Mode mode) { return 1U << static_cast<unsigned>(mode); }

constexpr unsigned kPoll = bit(Mode::poll);
constexpr unsigned kCommand = bit(Mode::command);
constexpr unsigned kDecode = bit(Mode::decode);
constexpr unsigned kExport = bit(Mode::export_rows);
constexpr unsigned kAlarms = bit(Mode::alarms);
constexpr unsigned kPlot = bit(Mode::plot);
constexpr unsigned kHistoryHelp = bit(Mode::history);
constexpr unsigned kScan = bit(Mode::scan);
constexpr unsigned kRunning = kPoll | kCommand;
constexpr unsigned kOnABus = kRunning | kScan;
constexpr unsigned kReadingHistory = kExport | kAlarms | kPlot;
constexpr unsigned kWithPlugin = kRunning | kDecode | kReadingHistory;
constexpr unsigned kEvery = kRunning | kDecode | kReadingHistory | kHistoryHelp | kScan;

constexpr int kMaxCycles = 1000000;
constexpr double kMaxIntervalSeconds = 86400;

using Setter = void (*)(HostOptions&, const std::string&);

struct OptionSpec {
  const char* name;
  const char* value;  // placeholder of its value; null for a flag
  unsigned modes;     // modes that accept it
  const char* help;   // unless kHelpInMode has one for the mode
  Setter set;
};

// Short options and the long ones they stand for.
struct ShortOption {
  const char* name;
  const char* stands_for;
};
constexpr ShortOption kShortOptions[] = {
    {"-h", "--help"  },
    {"-o", "--output"}
};

// A list of items, each once, parsed by `parse`.
template <typename Item>
std::vector<Item> parse_list(const std::string& text, const std::string& what,
                             Item (*parse)(const std::string&, const std::string&)) {
  std::vector<Item> items;
  for (const std::string& word : split_list(text, what)) {
    const Item item = parse(word, what);
    if (std::find(items.begin(), items.end(), item) != items.end()) {
      throw UsageError(what + ": '" + word + "' given twice");
    }
    items.push_back(item);
  }
  return items;
}

bool parse_rts(const std::string& text) {
  if (text != "up" && text != "down") {
    throw UsageError("--rts: expected up or down, got '" + text + "'");
  }
  return text == "up";
}

ExportFormat parse_format(const std::string& text) {
  if (text == "csv") {
    return ExportFormat::csv;
  }
  if (text == "jsonl") {
    return ExportFormat::jsonl;
  }
  if (text == "jsonl-compact") {
    return ExportFormat::jsonl_compact;
  }
  throw UsageError("--format: expected csv, jsonl or jsonl-compact, got '" + text + "'");
}

// A broker URL the bridge can use, checked now for a one-line error.
std::string broker_url(const std::string& text) {
  try {
    mqtt::parse_broker_url(text, "--mqtt");
  } catch (const mqtt::BrokerSettingsError& error) {
    throw UsageError(error.what());
  }
  return text;
}

// clang-format off
// option       value         modes     help, then on the next line the setter
const OptionSpec kOptions[] = {
    {"--site",      "FILE",        kRunning, "units from a site file (JSON)",
     [](HostOptions& o, const std::string& v) { o.units.site_file = v; }},
    {"--unit",      "NAME",        kCommand, "the site-file unit to command",
     [](HostOptions& o, const std::string& v) { o.units.unit_name = v; }},
    {"--tcp",       "HOST:PORT",   kOnABus,  "one unit over Modbus/TCP",
     [](HostOptions& o, const std::string& v) { parse_endpoint(v, "--tcp"); o.units.tcp = v; }},
    {"--rtu",       "DEVICE",      kOnABus,  "one unit over Modbus RTU on a serial device",
     [](HostOptions& o, const std::string& v) { o.units.rtu = v; }},
    {"--unit-id",   "N",           kRunning, "unit address, 1..247; over TCP 0..255 (default 1)",
     [](HostOptions& o, const std::string& v) { o.units.unit_id = parse_int(v, kMinTcpUnitId, kMaxTcpUnitId, "--unit-id"); }},
    {"--baud",      "N",           kRunning, "serial baud rate (default 9600)",
     [](HostOptions& o, const std::string& v) { o.units.baud = parse_baud(v, "--baud"); }},
    {"--baud",      "LIST",        kScan,    "baud rates to try, e.g. 9600,19200 (default 1200,2400,4800,9600,19200,38400,57600,115200)",
     [](HostOptions& o, const std::string& v) { o.scan.bauds = parse_list(v, "--baud", parse_baud); }},
    {"--parity",    "none|even|odd", kRunning, "serial parity (default none)",
     [](HostOptions& o, const std::string& v) { o.units.parity = parse_parity(v, "--parity"); }},
    {"--parity",    "LIST",        kScan,    "parities to try, e.g. none,even (default none,even,odd)",
     [](HostOptions& o, const std::string& v) { o.scan.parities = parse_list(v, "--parity", parse_parity); }},
    {"--data-bits", "N",           kRunning, "serial data bits, 5..8 (default 8)",
     [](HostOptions& o, const std::string& v) { o.units.data_bits = parse_int(v, kMinDataBits, kMaxDataBits, "--data-bits"); }},
    {"--stop-bits", "N",           kOnABus,  "serial stop bits, 1..2 (default 1)",
     [](HostOptions& o, const std::string& v) { o.units.stop_bits = parse_int(v, kMinStopBits, kMaxStopBits, "--stop-bits"); }},
    {"--rs485",     nullptr,       kOnABus,  "RS-485: the serial port in RS-485 mode, RTS switching the transceiver to send",
     [](HostOptions& o, const std::string&) { o.units.rs485 = true; }},
    {"--rts",       "up|down",     kOnABus,  "with --rs485: RTS high (up, the default) or low while sending",
     [](HostOptions& o, const std::string& v) { o.units.rts_up = parse_rts(v); }},
    {"--rts-delay-us", "N",        kOnABus,  "with --rs485: microseconds from RTS to the first byte and after the last (default: one character time)",
     [](HostOptions& o, const std::string& v) { o.units.rts_delay_us = parse_int(v, 0, kMaxRtsDelayUs, "--rts-delay-us"); }},
    {"--unit-ids",  "LIST",        kScan,    "unit addresses to probe, e.g. 1,5,9-12, within 1..247 (default 1-247; 0, the broadcast address, never)",
     [](HostOptions& o, const std::string& v) { o.scan.unit_ids = parse_unit_ids(v, "--unit-ids"); o.scan.unit_ids_text = v; }},
    {"--first",     nullptr,       kScan,    "stop at the first unit found",
     [](HostOptions& o, const std::string&) { o.scan.first = true; }},
    {"--data-id",   "N",           kRunning | kDecode | kReadingHistory, "data id of the unit (default 1)",
     [](HostOptions& o, const std::string& v) { o.units.data_id = parse_data_id(v, "--data-id"); }},
    {"--cycles",    "N",           kRunning, "stop after N cycles (poll default: until interrupted; command: 0)",
     [](HostOptions& o, const std::string& v) { o.cycles = parse_int(v, 0, kMaxCycles, "--cycles"); }},
    {"--interval",  "SECONDS",     kRunning, "from the start of one cycle to the next (default 1)",
     [](HostOptions& o, const std::string& v) { o.interval_seconds = parse_seconds(v, kMaxIntervalSeconds, "--interval"); }},
    {"--timeout-ms", "N",          kOnABus,  "response time-out of one exchange (default: follows the serial line, at least 500)",
     [](HostOptions& o, const std::string& v) { o.timeout_ms = parse_int(v, 1, kMaxTimeoutMs, "--timeout-ms"); }},
    {"--retries",   "N",           kRunning, "tries of a failed exchange after the first, 0..10 (default 2; writes only where the unit cannot have carried them out)",
     [](HostOptions& o, const std::string& v) { o.retries = parse_int(v, 0, kMaxRetries, "--retries"); }},
    {"--history",   "FILE",        kRunning | kDecode | kReadingHistory, "SQLite history: stored, and its newest rows reloaded at start",
     [](HostOptions& o, const std::string& v) { o.history = v; }},
    {"--history-keep", "DURATION", kRunning, "keep the rows of the last DURATION (30d, 12h, ...; default: all)",
     [](HostOptions& o, const std::string& v) { o.history_keep_seconds = parse_duration(v, "--history-keep"); }},
    {"--history-max-size", "SIZE", kRunning, "keep the newest rows that fit in SIZE (500MB, 2GiB, ...; default: all)",
     [](HostOptions& o, const std::string& v) { o.history_max_bytes = parse_size(v, "--history-max-size"); }},
    {"--from",      "TIME",        kReadingHistory, "rows stored at or after TIME (local, YYYY-MM-DD[ HH:MM[:SS]])",
     [](HostOptions& o, const std::string& v) { o.from = parse_local_time(v, "--from"); }},
    {"--to",        "TIME",        kReadingHistory, "rows stored before TIME",
     [](HostOptions& o, const std::string& v) { o.to = parse_local_time(v, "--to"); }},
    {"--format",    "csv|jsonl|jsonl-compact", kExport, "CSV (RFC 4180, UTF-8; the default), one JSON object per line, or a line of column names and one JSON array of values per row",
     [](HostOptions& o, const std::string& v) { o.format = parse_format(v); }},
    {"--bom",       nullptr,       kExport,  "CSV: begin with the UTF-8 byte-order mark some spreadsheets need",
     [](HostOptions& o, const std::string&) { o.bom = true; }},
    {"--utc",       nullptr,       kExport,  "times in UTC (2024-03-01T09:00:00Z) rather than local with their offset (2024-03-01T10:00:00+01:00)",
     [](HostOptions& o, const std::string&) { o.utc = true; }},
    {"--values",    "KEY,...",     kPlot,    "the values to draw: document paths (室内机组状态/回风温度) or keys unique among them (回风温度)",
     [](HostOptions& o, const std::string& v) { o.values = split_list(v, "--values"); }},
    {"--output",    "FILE",        kReadingHistory, "write to FILE (also -o; default: standard output)",
     [](HostOptions& o, const std::string& v) { o.output = v; }},
    {"--plugin",    "PATH",        kWithPlugin, "the plug-in to load (default: libvelmocair.so beside the program, in ../plugin or in ../lib/velmocair)",
     [](HostOptions& o, const std::string& v) { o.plugin = v; }},
    {"--trace",     "FILE",        kRunning | kDecode, "every call the plug-in makes into the host, one JSON line each",
     [](HostOptions& o, const std::string& v) { o.trace = v; }},
    {"--status",    nullptr,       kRunning | kDecode, "print the exact status text (code 801) after each completed cycle",
     [](HostOptions& o, const std::string&) { o.status = true; }},
    {"--view",      nullptr,       kRunning | kDecode, "print the readable view even when not on a terminal",
     [](HostOptions& o, const std::string&) { o.view = true; }},
    {"--mqtt",      "URL",         kPoll,    "publish to an MQTT broker, with Home Assistant discovery, and take commands from it: mqtt[s]://[USER@]HOST[:PORT][/BASE][?KEY=VALUE&...] (see docs/mqtt.md)",
     [](HostOptions& o, const std::string& v) { o.mqtt.url = broker_url(v); }},
    {"--mqtt-read-only", nullptr,  kPoll,    "the MQTT bridge refuses every command",
     [](HostOptions& o, const std::string&) { o.mqtt.read_only = true; }},
    {"--stats",     nullptr,       kRunning, "at the end, a table of each unit's link statistics",
     [](HostOptions& o, const std::string&) { o.stats = true; }},
    {"--json",      nullptr,       kCommand | kScan, "send the command in its JSON form (codes 320, 310)",
     [](HostOptions& o, const std::string&) { o.json = true; }},
    {"--help",      nullptr,       kEvery,   "show this help (also -h)",
     [](HostOptions& o, const std::string&) { o.help = true; }},
    {"--version",   nullptr,       kEvery,   "show the version, " VELMOCAIR_VERSION,
     [](HostOptions& o, const std::string&) { o.version = true; }},
};

struct ModeHelp {
  const char* option;
  unsigned modes;
  const char* help;
};

// Help texts of options that mean something else in some modes.
const ModeHelp kHelpInMode[] = {
    {"--data-id",   kDecode,          "--history: the newest row of this unit (default: of any unit); FILE: the data id to load it as"},
    {"--data-id",   kReadingHistory,  "the rows of this unit (default: of every unit)"},
    {"--history",   kDecode,          "the SQLite history whose newest row to decode"},
    {"--history",   kReadingHistory,  "the SQLite history to read (never changed)"},
    {"--status",    kDecode,          "print the exact status text (code 801), the default"},
    {"--view",      kDecode,          "print the readable view instead of the status text"},
    {"--output",    kPlot,            "the chart: FILE.svg or FILE.png (also -o)"},
    {"--tcp",       kScan,            "probe the unit ids behind a Modbus/TCP endpoint (a gateway)"},
    {"--rtu",       kScan,            "probe a serial line"},
    {"--stop-bits", kScan,            "serial stop bits, 1..2, the same for every line setting (default 1)"},
    {"--timeout-ms", kScan,           "time-out of the probe of each address (default: follows the line: the request and reply on the wire, two frame silences and 100 ms turnaround; TCP 500); the walk of a unit waits at least polling's"},
    {"--json",      kScan,            "one JSON object per unit found and per garble or late finding, a line each, instead of the text"},
};
// clang-format on

const char* help_of(const OptionSpec& option, Mode mode) {
  for (const ModeHelp& special : kHelpInMode) {
    if ((special.modes & bit(mode)) != 0 && std::string(special.option) == option.name) {
      return special.help;
    }
  }
  return option.help;
}

std::string long_name(const std::string& word) {
  for (const ShortOption& option : kShortOptions) {
    if (word == option.name) {
      return option.stands_for;
    }
  }
  return word;
}

// The option of that name in `mode` (some names mean other things in other
// modes); null when the mode has none.
const OptionSpec* find_option(const std::string& name, Mode mode) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name && (option.modes & bit(mode)) != 0) {
      return &option;
    }
  }
  return nullptr;
}

void take_positional(HostOptions& options, const std::string& word) {
  if (options.mode == Mode::command && options.action.empty()) {
    const CommandAction* action = find_command_action(word);
    if (action == nullptr) {
      throw UsageError("command: unknown action '" + word +
                       "' (expected start, stop, temperature or humidity)");
    }
    options.action = word;
  } else if (options.mode == Mode::command && !options.value &&
             find_command_action(options.action)->takes_value) {
    options.value = parse_int(word, 0, kMaxSetPoint, options.action);
  } else if (options.mode == Mode::decode && options.record_file.empty()) {
    options.record_file = word;
  } else {
    throw UsageError("unexpected argument '" + word + "'");
  }
}

void check_units(const HostOptions& options) {
  const UnitFlags& units = options.units;
  const bool serial_flags = units.baud || units.parity || units.data_bits || units.stop_bits ||
                            !options.scan.bauds.empty() || !options.scan.parities.empty();
  if (!units.site_file.empty() && (!units.tcp.empty() || !units.rtu.empty())) {
    throw UsageError("--site cannot be combined with --tcp or --rtu");
  }
  if (!units.tcp.empty() && !units.rtu.empty()) {
    throw UsageError("give either --tcp or --rtu, not both");
  }
  if (units.unit_id && units.tcp.empty() && units.rtu.empty()) {
    throw UsageError("--unit-id needs --tcp or --rtu");
  }
  if (units.unit_id && !units.rtu.empty() &&
      (*units.unit_id < kMinUnitId || *units.unit_id > kMaxUnitId)) {
    throw UsageError("--unit-id: expected a whole number " + std::to_string(kMinUnitId) + ".." +
                     std::to_string(kMaxUnitId) + " on a serial line");
  }
  if (serial_flags && units.rtu.empty()) {
    throw UsageError("--baud, --parity, --data-bits and --stop-bits need --rtu");
  }
  if (units.data_id && !units.site_file.empty()) {
    throw UsageError("--data-id cannot be combined with --site: data ids come from the site file");
  }
  if (!units.unit_name.empty() && units.site_file.empty()) {
    throw UsageError("--unit needs --site");
  }
  if (units.rs485 && units.rtu.empty()) {
    throw UsageError("--rs485 needs --rtu (in a site file, a transport's \"rs485\" sets it)");
  }
  if ((units.rts_up || units.rts_delay_us) && !units.rs485) {
    throw UsageError("--rts and --rts-delay-us need --rs485");
  }
  if (options.mode == Mode::scan && units.tcp.empty() && units.rtu.empty()) {
    throw UsageError("scan: give --rtu DEVICE or --tcp HOST:PORT");
  }
}

// Two words of the modes' table, either of which may be null, are the same.
bool same_word(const char* one, const char* other) {
  return one == nullptr || other == nullptr ? one == other : std::string(one) == other;
}

// The words that follow `word`, as a message lists them: "export, alarms or plot".
std::string words_after(const ModeTable& modes, const char* word) {
  std::vector<const char*> words;
  for (const ModeRow& row : modes) {
    if (row.after != nullptr && same_word(row.after, word)) {
      words.push_back(row.word);
    }
  }
  std::string list;
  for (std::size_t place = 0; place < words.size(); ++place) {
    if (place > 0) {
      list += place + 1 == words.size() ? " or " : ", ";
    }
    list += words[place];
  }
  return list;
}

void check_mode(const HostOptions& options, const ModeTable& modes) {
  if (options.status && options.view) {
    throw UsageError("give either --status or --view, not both");
  }
  if (options.mode == Mode::command) {
    const CommandAction* action = find_command_action(options.action);
    if (action == nullptr) {
      throw UsageError("command: give start, stop, temperature VALUE or humidity VALUE");
    }
    if (action->takes_value && !options.value) {
      throw UsageError(std::string("command ") + action->name + ": give the set-point VALUE");
    }
  }
  if (options.mode == Mode::decode && options.record_file.empty() == options.history.empty()) {
    throw UsageError("decode: give either FILE or --history FILE");
  }
  if (options.mode == Mode::poll && options.cycles && *options.cycles == 0) {
    throw UsageError("--cycles: give at least 1 cycle to poll");
  }
  if (const ModeRow& row = modes[options.mode]; row.run == nullptr) {
    throw UsageError(std::string(row.word) + ": give " + words_after(modes, row.word) +
                     " (see --help)");
  }
  if ((bit(options.mode) & kReadingHistory) != 0) {
    if (options.history.empty()) {
      throw UsageError("history: give the history file with --history FILE");
    }
    if (!options.from.empty() && !options.to.empty() && options.from > options.to) {
      throw UsageError("--from " + options.from + " is after --to " + options.to);
    }
    if (options.bom && options.format != ExportFormat::csv) {
      throw UsageError("--bom: only with CSV (JSON parsers refuse a line that begins with it)");
    }
  }
  if ((options.history_keep_seconds || options.history_max_bytes) && options.history.empty()) {
    throw UsageError(
        std::string(options.history_keep_seconds ? "--history-keep" : "--history-max-size") +
        ": give the history file with --history FILE");
  }
  if (options.mode == Mode::plot && (options.values.empty() || options.output.empty())) {
    throw UsageError("history plot: give --values KEY,... and -o FILE.svg or FILE.png");
  }
}

// The row of the mode `word` names after `after` (null: as the first word);
// null when it names none.
const ModeRow* find_mode(const ModeTable& modes, const std::string& word, const char* after) {
  for (const ModeRow& row : modes) {
    if (row.word != nullptr && same_word(row.after, after) && word == row.word) {
      return &row;
    }
  }
  return nullptr;
}

// The mode the first words name, and how many words that took.
std::size_t take_mode(const std::vector<std::string>& arguments, const ModeTable& modes,
                      HostOptions& options) {
  const ModeRow* row = arguments.empty() ? nullptr : find_mode(modes, arguments[0], nullptr);
  if (row == nullptr) {
    return 0;
  }
  options.mode = row->mode;
  if (row->run != nullptr || arguments.size() < 2 || arguments[1].rfind('-', 0) == 0) {
    return 1;
  }
  const ModeRow* command = find_mode(modes, arguments[1], row->word);
  if (command == nullptr) {
    throw UsageError(std::string(row->word) + ": unknown command '" + arguments[1] +
                     "' (expected " + words_after(modes, row->word) + ")");
  }
  options.mode = command->mode;
  return 2;
}

}  // namespace

HostOptions parse_options(const std::vector<std::string>& arguments, const ModeTable& modes) {
  HostOptions options;
  std::size_t next = take_mode(arguments, modes, options);
  for (; next < arguments.size(); ++next) {
    std::string word = long_name(arguments[next]);
    if (word.rfind("--", 0) != 0) {
      take_positional(options, word);
      continue;
    }
    // --option=value stands for --option value.
    std::optional<std::string> attached;
    if (const std::size_t equals = word.find('='); equals != std::string::npos) {
      attached = word.substr(equals + 1);
      word.erase(equals);
    }
    const OptionSpec* option = find_option(word, options.mode);
    if (option == nullptr) {
      throw UsageError("unknown option " + word + " (see --help)");
    }
    std::string value;
    if (option->value == nullptr && attached) {
      throw UsageError(word + " takes no value");
    }
    if (option->value != nullptr) {
      if (!attached && next + 1 == arguments.size()) {
        throw UsageError(word + " needs a value: " + option->value);
      }
      value = attached ? *attached : arguments[++next];
    }
    option->set(options, value);
  }
  if (options.help || options.version) {
    return options;
  }
  check_units(options);
  check_mode(options, modes);
  return options;
}

std::string version_line() { return "velmocair-host " VELMOCAIR_VERSION "\n"; }

std::string help_text(const ModeTable& modes, Mode mode) {
  std::ostringstream text;
  text << modes[mode].help();
  text << "\noptions:\n";
  for (const OptionSpec& option : kOptions) {
    if ((option.modes & bit(mode)) == 0) {
      continue;
    }
    std::string left = std::string("  ") + option.name;
    if (option.value != nullptr) {
      left += std::string(" ") + option.value;
    }
    constexpr std::size_t kHelpColumn = 26;
    left.resize(std::max(left.size() + 1, kHelpColumn), ' ');
    text << left << help_of(option, mode) << "\n";
  }
  text << "\n" << modes[mode].exits;
  return text.str();
}

}  // namespace velmocair::cli
