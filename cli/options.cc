#include "cli/options.h"

#include <algorithm>
#include <sstream>

#include "cli/command_table.h"
#include "cli/exit_status.h"
#include "cli/value_parsing.h"

namespace velmocair::cli {
namespace {

constexpr unsigned kPoll = 1U << static_cast<unsigned>(Mode::poll);
constexpr unsigned kCommand = 1U << static_cast<unsigned>(Mode::command);
constexpr unsigned kDecode = 1U << static_cast<unsigned>(Mode::decode);
constexpr unsigned kRunning = kPoll | kCommand;
constexpr unsigned kEvery = kPoll | kCommand | kDecode;

constexpr int kMaxCycles = 1000000;
constexpr int kMaxTimeoutMs = 60000;
constexpr double kMaxIntervalSeconds = 86400;

using Setter = void (*)(HostOptions&, const std::string&);

struct OptionSpec {
  const char* name;
  const char* value;        // placeholder of its value; null for a flag
  unsigned modes;           // modes that accept it
  const char* help;         // in poll and command
  const char* decode_help;  // in decode; null: as `help`
  Setter set;
};

// The one short option, the same as --help.
constexpr const char* kShortHelp = "-h";

// clang-format off
// option       value         modes     help, decode help, then on the next line the setter
const OptionSpec kOptions[] = {
    {"--site",      "FILE",        kRunning, "units from a site file (JSON)", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.site_file = v; }},
    {"--unit",      "NAME",        kCommand, "the site-file unit to command", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.unit_name = v; }},
    {"--tcp",       "HOST:PORT",   kRunning, "one unit over Modbus/TCP", nullptr,
     [](HostOptions& o, const std::string& v) { parse_endpoint(v, "--tcp"); o.units.tcp = v; }},
    {"--rtu",       "DEVICE",      kRunning, "one unit over Modbus RTU on a serial device", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.rtu = v; }},
    {"--unit-id",   "N",           kRunning, "unit address, 1..247 (default 1)", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.unit_id = parse_int(v, kMinUnitId, kMaxUnitId, "--unit-id"); }},
    {"--baud",      "N",           kRunning, "serial baud rate (default 9600)", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.baud = parse_baud(v, "--baud"); }},
    {"--parity",    "none|even|odd", kRunning, "serial parity (default none)", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.parity = parse_parity(v, "--parity"); }},
    {"--data-bits", "N",           kRunning, "serial data bits, 5..8 (default 8)", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.data_bits = parse_int(v, kMinDataBits, kMaxDataBits, "--data-bits"); }},
    {"--stop-bits", "N",           kRunning, "serial stop bits, 1..2 (default 1)", nullptr,
     [](HostOptions& o, const std::string& v) { o.units.stop_bits = parse_int(v, kMinStopBits, kMaxStopBits, "--stop-bits"); }},
    {"--data-id",   "N",           kEvery,   "data id of the unit (default 1)",
     "--history: the newest row of this unit (default: of any unit); FILE: the data id to load it as",
     [](HostOptions& o, const std::string& v) { o.units.data_id = parse_data_id(v, "--data-id"); }},
    {"--cycles",    "N",           kRunning, "stop after N cycles (poll default: until interrupted; command: 0)", nullptr,
     [](HostOptions& o, const std::string& v) { o.cycles = parse_int(v, 0, kMaxCycles, "--cycles"); }},
    {"--interval",  "SECONDS",     kRunning, "from the start of one cycle to the next (default 1)", nullptr,
     [](HostOptions& o, const std::string& v) { o.interval_seconds = parse_seconds(v, kMaxIntervalSeconds, "--interval"); }},
    {"--timeout-ms", "N",          kRunning, "response time-out of one exchange (default: follows the serial line, at least 500)", nullptr,
     [](HostOptions& o, const std::string& v) { o.timeout_ms = parse_int(v, 1, kMaxTimeoutMs, "--timeout-ms"); }},
    {"--history",   "FILE",        kEvery,   "SQLite history: stored, and its newest rows reloaded at start",
     "the SQLite history whose newest row to decode",
     [](HostOptions& o, const std::string& v) { o.history = v; }},
    {"--plugin",    "PATH",        kEvery,   "the plug-in to load (default: libvelmocair.so beside the program, in ../plugin or in ../lib/velmocair)", nullptr,
     [](HostOptions& o, const std::string& v) { o.plugin = v; }},
    {"--trace",     "FILE",        kEvery,   "every call the plug-in makes into the host, one JSON line each", nullptr,
     [](HostOptions& o, const std::string& v) { o.trace = v; }},
    {"--status",    nullptr,       kEvery,   "print the exact status text (code 801) after each completed cycle",
     "print the exact status text (code 801), the default",
     [](HostOptions& o, const std::string&) { o.status = true; }},
    {"--view",      nullptr,       kEvery,   "print the readable view even when not on a terminal",
     "print the readable view instead of the status text",
     [](HostOptions& o, const std::string&) { o.view = true; }},
    {"--json",      nullptr,       kCommand, "send the command in its JSON form (codes 320, 310)", nullptr,
     [](HostOptions& o, const std::string&) { o.json = true; }},
    {"--help",      nullptr,       kEvery,   "show this help (also -h)", nullptr,
     [](HostOptions& o, const std::string&) { o.help = true; }},
};
// clang-format on

unsigned mode_bit(Mode mode) { return 1U << static_cast<unsigned>(mode); }

const OptionSpec* find_option(const std::string& name) {
  for (const OptionSpec& option : kOptions) {
    if (name == option.name) {
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
  const bool serial_flags = units.baud || units.parity || units.data_bits || units.stop_bits;
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
}

}  // namespace

HostOptions parse_options(const std::vector<std::string>& arguments) {
  HostOptions options;
  std::size_t next = 0;
  if (!arguments.empty() && (arguments[0] == "command" || arguments[0] == "decode")) {
    options.mode = arguments[0] == "command" ? Mode::command : Mode::decode;
    next = 1;
  }
  for (; next < arguments.size(); ++next) {
    std::string word = arguments[next] == kShortHelp ? "--help" : arguments[next];
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
    const OptionSpec* option = find_option(word);
    if (option == nullptr || (option->modes & mode_bit(options.mode)) == 0) {
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
  if (options.help) {
    return options;
  }
  check_units(options);
  check_mode(options);
  return options;
}

std::string help_text(Mode mode) {
  std::ostringstream text;
  switch (mode) {
    case Mode::poll:
      text << "usage: velmocair-host [UNITS] [OPTIONS]\n"
              "       velmocair-host command start|stop|temperature VALUE|humidity VALUE "
              "[--json] [UNITS] [OPTIONS]\n"
              "       velmocair-host decode FILE | decode --history FILE [--data-id N]\n\n"
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
  }
  text << "\noptions:\n";
  for (const OptionSpec& option : kOptions) {
    if ((option.modes & mode_bit(mode)) == 0) {
      continue;
    }
    std::string left = std::string("  ") + option.name;
    if (option.value != nullptr) {
      left += std::string(" ") + option.value;
    }
    constexpr std::size_t kHelpColumn = 26;
    left.resize(std::max(left.size() + 1, kHelpColumn), ' ');
    const char* help =
        mode == Mode::decode && option.decode_help != nullptr ? option.decode_help : option.help;
    text << left << help << "\n";
  }
  text << "\nexit status: 0 every cycle completed / command confirmed / record decoded;\n"
          "1 a cycle failed, the command was not confirmed, or the host could not run;\n"
          "2 bad option, site file or unit configuration.\n";
  return text.str();
}

}  // namespace velmocair::cli
