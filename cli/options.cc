#include "cli/options.h"

#include <algorithm>
#include <sstream>
#include <tuple>

#include "cli/command_table.h"
#include "cli/exit_status.h"
#include "cli/mqtt/broker_settings.h"
#include "cli/value_parsing.h"

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
constexpr int kMaxTimeoutMs = 60000;
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
  throw UsageError("--format: expected csv or jsonl, got '" + text + "'");
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
    {"--unit-id",   "N",           kRunning, "unit address, 1..247 (default 1)",
     [](HostOptions& o, const std::string& v) { o.units.unit_id = parse_int(v, kMinUnitId, kMaxUnitId, "--unit-id"); }},
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
    {"--unit-ids",  "A-B",         kScan,    "unit addresses to probe, 1..247 (default 1-247; 0, the broadcast address, never)",
     [](HostOptions& o, const std::string& v) { std::tie(o.scan.first_unit_id, o.scan.last_unit_id) = parse_unit_range(v, "--unit-ids"); }},
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
    {"--format",    "csv|jsonl",   kExport,  "CSV (RFC 4180, UTF-8; the default) or one JSON object per line",
     [](HostOptions& o, const std::string& v) { o.format = parse_format(v); }},
    {"--bom",       nullptr,       kExport,  "begin with the UTF-8 byte-order mark some spreadsheets need",
     [](HostOptions& o, const std::string&) { o.bom = true; }},
    {"--values",    "KEY,...",     kPlot,    "the values to draw: document paths (室内机组状态/回风温度) or keys unique among them (回风温度)",
     [](HostOptions& o, const std::string& v) { o.values = split_list(v, "--values"); }},
    {"--output",    "FILE",        kExport | kPlot, "write to FILE (also -o; export default: standard output)",
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
    {"--timeout-ms", kScan,           "time-out of each read (default: follows the line: the request and reply on the wire, two frame silences and 100 ms turnaround; TCP 500)"},
    {"--json",      kScan,            "one JSON object per unit found, a line each, instead of the text"},
};

// The words after "history" and the modes they name.
struct HistoryCommand {
  const char* word;
  Mode mode;
};
const HistoryCommand kHistoryCommands[] = {
    {"export", Mode::export_rows},
    {"alarms", Mode::alarms},
    {"plot",   Mode::plot},
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

void check_mode(const HostOptions& options) {
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
  if (options.mode == Mode::history) {
    throw UsageError("history: give export, alarms or plot (see --help)");
  }
  if ((bit(options.mode) & kReadingHistory) != 0) {
    if (options.history.empty()) {
      throw UsageError("history: give the history file with --history FILE");
    }
    if (!options.from.empty() && !options.to.empty() && options.from > options.to) {
      throw UsageError("--from " + options.from + " is after --to " + options.to);
    }
  }
  if (options.mode == Mode::plot && (options.values.empty() || options.output.empty())) {
    throw UsageError("history plot: give --values KEY,... and -o FILE.svg or FILE.png");
  }
}

// The mode the first words name, and how many words that took.
std::size_t take_mode(const std::vector<std::string>& arguments, HostOptions& options) {
  if (arguments.empty()) {
    return 0;
  }
  if (arguments[0] == "command" || arguments[0] == "decode" || arguments[0] == "scan") {
    options.mode = arguments[0] == "command"  ? Mode::command
                   : arguments[0] == "decode" ? Mode::decode
                                              : Mode::scan;
    return 1;
  }
  if (arguments[0] != "history") {
    return 0;
  }
  options.mode = Mode::history;
  if (arguments.size() < 2 || arguments[1].rfind('-', 0) == 0) {
    return 1;
  }
  for (const HistoryCommand& command : kHistoryCommands) {
    if (arguments[1] == command.word) {
      options.mode = command.mode;
      return 2;
    }
  }
  throw UsageError("history: unknown command '" + arguments[1] +
                   "' (expected export, alarms or plot)");
}

}  // namespace

HostOptions parse_options(const std::vector<std::string>& arguments) {
  HostOptions options;
  std::size_t next = take_mode(arguments, options);
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
  check_mode(options);
  return options;
}

std::string version_line() { return "velmocair-host " VELMOCAIR_VERSION "\n"; }

std::string help_text(Mode mode) {
  std::ostringstream text;
  switch (mode) {
    case Mode::poll:
      text << "usage: velmocair-host [UNITS] [OPTIONS]\n"
              "       velmocair-host command start|stop|temperature VALUE|humidity VALUE "
              "[--json] [UNITS] [OPTIONS]\n"
              "       velmocair-host decode FILE | decode --history FILE [--data-id N]\n"
              "       velmocair-host history export|alarms|plot --history FILE [OPTIONS]\n"
              "       velmocair-host scan --rtu DEVICE | --tcp HOST:PORT [OPTIONS]\n\n"
              "Loads the plug-in, polls each unit once per cycle and prints the outcome: a\n"
              "readable view on a terminal, else one summary line per cycle; --status prints\n"
              "the exact status text instead. Without --site, --tcp or --rtu it polls the\n"
              "built-in simulator on loopback.\n";
      break;
    case Mode::command:
      text << "usage: velmocair-host command start|stop|temperature VALUE|humidity VALUE "
              "[--json] [UNITS] [OPTIONS]\n\n"
              "Sends one control command (numeric codes 100, 102, 106, 110; with --json\n"
              "codes 320, 310), waits for the unit's echo and prints the outcome the device\n"
              "reports: confirmed, echo mismatch or no reply. VALUE is a set-point in whole\n"
              "units, 0.."
           << kMaxSetPoint << ". --cycles N polls N cycles afterwards.\n";
      break;
    case Mode::decode:
      text << "usage: velmocair-host decode FILE [OPTIONS]\n"
              "       velmocair-host decode --history FILE [--data-id N] [OPTIONS]\n\n"
              "Loads a stored 441-byte record (a file, or the newest row of a history file)\n"
              "through the device's LoadFromCache and prints its status text (--view: the\n"
              "readable view). The document's update time is the time of decoding; the\n"
              "view's heading names the stored row and its time.\n";
      break;
    case Mode::history:
      text << "usage: velmocair-host history export --history FILE [--data-id N] [--from TIME] "
              "[--to TIME] [--format csv|jsonl] [--bom] [-o FILE]\n"
              "       velmocair-host history alarms --history FILE [--data-id N] [--from TIME] "
              "[--to TIME]\n"
              "       velmocair-host history plot --history FILE --values KEY,... [--data-id N] "
              "[--from TIME] [--to TIME] -o FILE.svg|FILE.png\n\n"
              "Reads a history file without changing it: every stored record as a row of\n"
              "its status document, the alarm events, or a trend chart. `history COMMAND\n"
              "--help` tells more.\n";
      break;
    case Mode::export_rows:
      text << "usage: velmocair-host history export --history FILE [--data-id N] [--from TIME] "
              "[--to TIME] [--format csv|jsonl] [--bom] [-o FILE]\n\n"
              "One row per stored record, decoded through the plug-in: the stored time, the\n"
              "data id, then every leaf of the status document, named by its path joined\n"
              "with /, in the order of the status text; numbers as the unit means them,\n"
              "texts as texts, booleans as 0/1 (JSON lines: true/false).\n";
      break;
    case Mode::alarms:
      text << "usage: velmocair-host history alarms --history FILE [--data-id N] [--from TIME] "
              "[--to TIME]\n\n"
              "The alarm events in the period, from the stored records evaluated by the\n"
              "plug-in: each raise of an alarm point (#INDEX TEXT) with its clearing and how\n"
              "long it was active, then a count and total duration per point.\n";
      break;
    case Mode::plot:
      text << "usage: velmocair-host history plot --history FILE --values KEY,... [--data-id N] "
              "[--from TIME] [--to TIME] -o FILE.svg|FILE.png\n\n"
              "A trend chart drawn by gnuplot: one line per value on a local-time axis,\n"
              "the periods in which any alarm point was active shaded; long periods are\n"
              "reduced to the least and greatest value per pixel column.\n";
      break;
    case Mode::scan:
      text << "usage: velmocair-host scan --rtu DEVICE | --tcp HOST:PORT [OPTIONS]\n\n"
              "Finds the units on a bus and their line settings: at each line setting it\n"
              "reads the first block of the poll cycle from each unit address, and walks\n"
              "the whole poll cycle of an address that answers, to tell a unit of this\n"
              "type from another Modbus device. It only reads, never at the broadcast\n"
              "address. It tells silence from bytes that make no valid frame (a device\n"
              "on other line settings), and prints each unit found, then the site-file\n"
              "entry and the command line that poll it. On a terminal a progress bar\n"
              "shows on standard error; SIGINT ends the scan with what it found.\n";
      break;
  }
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
  if ((bit(mode) & (kReadingHistory | kHistoryHelp)) != 0) {
    text << "\nexit status: 0 done; 1 a file could not be read or written, or nothing to\n"
            "plot; 2 bad option, time, key or a file that is not a history.\n";
  } else if (mode == Mode::scan) {
    text << "\nexit status: 0 a unit answered; 1 none did, or the port could not be\n"
            "opened; 2 bad option, or a device that is no serial port.\n";
  } else {
    text << "\nexit status: 0 every cycle completed / command confirmed / record decoded;\n"
            "1 a cycle failed, the command was not confirmed, rows could not be stored, or\n"
            "the host could not run; 2 bad option, site file or unit configuration.\n";
  }
  return text.str();
}

}  // namespace velmocair::cli
