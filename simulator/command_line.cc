#include "simulator/command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <optional>
#include <stdexcept>

namespace velmocair::sim {
namespace {

constexpr int kMaxUnitId = 247;
constexpr int kMaxPort = 65535;
constexpr int kMaxBaud = 4'000'000;

[[noreturn]] void bad(const std::string& what) { throw std::invalid_argument(what); }

long long whole_number(const std::string& text, long long lowest, long long highest,
                       const std::string& what) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    bad(what + ": \"" + text + "\" is not a whole number");
  }
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || value < static_cast<unsigned long long>(lowest) ||
      value > static_cast<unsigned long long>(highest)) {
    bad(what + ": " + text + " is outside " + std::to_string(lowest) + ".." +
        std::to_string(highest));
  }
  return static_cast<long long>(value);
}

double probability(const std::string& text, const std::string& what) {
  char* end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= 0.0 && value <= 1.0)) {
    bad(what + ": rate \"" + text + "\" must be a number in 0..1");
  }
  return value;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t begin = 0;
  while (true) {
    const std::size_t end = text.find(separator, begin);
    parts.push_back(text.substr(begin, end - begin));
    if (end == std::string::npos) {
      return parts;
    }
    begin = end + 1;
  }
}

// "A-B" or "N" (A = B = N).
std::pair<long long, long long> span(const std::string& text, long long lowest, long long highest,
                                     const std::string& what) {
  const std::size_t dash = text.find('-');
  if (dash == std::string::npos) {
    const long long only = whole_number(text, lowest, highest, what);
    return {only, only};
  }
  const long long first = whole_number(text.substr(0, dash), lowest, highest, what);
  const long long last = whole_number(text.substr(dash + 1), lowest, highest, what);
  if (first > last) {
    bad(what + ": range " + text + " runs backwards");
  }
  return {first, last};
}

// Adds the unit ids of `list` to `ids`; `taken` are those given elsewhere.
void add_unit_ids(const std::string& list, std::vector<int>& ids, const std::vector<int>& taken,
                  const std::string& what) {
  for (const std::string& item : split(list, ',')) {
    const auto [first, last] = span(item, 1, kMaxUnitId, what);
    for (long long id = first; id <= last; ++id) {
      if (std::find(ids.begin(), ids.end(), id) != ids.end() ||
          std::find(taken.begin(), taken.end(), id) != taken.end()) {
        bad(what + ": unit " + std::to_string(id) + " is given twice");
      }
      ids.push_back(static_cast<int>(id));
    }
  }
}

char parity_code(const std::string& text) {
  if (text == "none" || text == "even" || text == "odd") {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
  }
  bad("--parity: \"" + text + "\" is none of none, even and odd");
}

void set_endpoint(const std::string& text, ServerOptions& options) {
  const std::size_t colon = text.rfind(':');
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  if (colon != std::string::npos) {
    if (colon == 0) {
      bad("--tcp: empty host in \"" + text + "\"");
    }
    options.tcp_host = text.substr(0, colon);
  }
  options.tcp_port = static_cast<int>(whole_number(port, 0, kMaxPort, "--tcp"));
}

// Bytes written as hexadecimal digit pairs, e.g. "00ff".
std::vector<std::uint8_t> hex_bytes(const std::string& text, const std::string& what) {
  constexpr int kHexBase = 16;
  constexpr std::size_t kDigitsPerByte = 2;
  if (text.empty() || text.size() % kDigitsPerByte != 0 ||
      text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    bad(what + ": \"" + text + "\" is not bytes in hexadecimal digit pairs");
  }
  std::vector<std::uint8_t> bytes;
  for (std::size_t at = 0; at < text.size(); at += kDigitsPerByte) {
    bytes.push_back(
        static_cast<std::uint8_t>(std::stoi(text.substr(at, kDigitsPerByte), nullptr, kHexBase)));
  }
  return bytes;
}

// KIND[=ARG][,rate=P][,cycles=A-B][,unit=N][,request=KIND]
FaultRule fault_rule(const std::string& spec) {
  const std::string what = "--fault " + spec;
  const std::vector<std::string> parts = split(spec, ',');
  const std::size_t equals = parts[0].find('=');
  const std::string name = parts[0].substr(0, equals);
  const bool has_argument = equals != std::string::npos;
  const std::string argument = has_argument ? parts[0].substr(equals + 1) : "";
  FaultRule rule;
  if (!parse_fault_name(name, rule.kind)) {
    bad(what + ": unknown fault \"" + name + "\"");
  }
  const bool wants_argument = rule.kind == FaultKind::delay || rule.kind == FaultKind::exception ||
                              rule.kind == FaultKind::trailing_bytes;
  if (wants_argument != has_argument) {
    bad(what + (!wants_argument                     ? ": takes no =value"
                : rule.kind == FaultKind::delay     ? ": needs =MS, the delay in milliseconds"
                : rule.kind == FaultKind::exception ? ": needs =CODE, the exception code"
                                                    : ": needs =HEX, the trailing bytes"));
  }
  if (rule.kind == FaultKind::delay) {
    rule.delay_ms = static_cast<int>(whole_number(argument, 1, INT_MAX, what));
  } else if (rule.kind == FaultKind::exception) {
    rule.exception_code = static_cast<int>(whole_number(argument, 1, UCHAR_MAX, what));
  } else if (rule.kind == FaultKind::trailing_bytes) {
    rule.trailing_bytes = hex_bytes(argument, what);
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::size_t at = parts[i].find('=');
    const std::string key = parts[i].substr(0, at);
    const std::string value = at == std::string::npos ? "" : parts[i].substr(at + 1);
    if (key == "rate") {
      rule.probability = probability(value, what);
    } else if (key == "cycles") {
      const auto [first, last] = span(value, 0, INT_MAX, what);
      rule.first_cycle = static_cast<int>(first);
      rule.last_cycle = static_cast<int>(last);
    } else if (key == "unit") {
      rule.unit_id = static_cast<int>(whole_number(value, 1, kMaxUnitId, what));
    } else if (key == "request") {
      if (!parse_request_name(value, rule.request)) {
        bad(what + ": request must be any, coils, registers or write");
      }
    } else {
      bad(what + ": unknown setting \"" + parts[i] + "\"");
    }
  }
  const std::string problem = check_fault_rule(rule);
  if (!problem.empty()) {
    bad(what + ": " + problem);
  }
  return rule;
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& arguments) {
  CommandLine line;
  ServerOptions& options = line.options;
  std::vector<int> unit_ids;
  std::optional<int> baud;
  std::optional<char> parity;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string option = arguments[i];
    std::string value;
    bool inline_value = false;
    const std::size_t equals = option.find('=');
    if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = option.substr(equals + 1);
      option = option.substr(0, equals);
      inline_value = true;
    }
    const auto take_value = [&]() -> const std::string& {
      if (!inline_value) {
        if (i + 1 >= arguments.size()) {
          bad(option + " needs a value");
        }
        value = arguments[++i];
      }
      return value;
    };
    const auto no_value = [&] {
      if (inline_value) {
        bad(option + " takes no value");
      }
    };
    if (option == "--help" || option == "-h") {
      no_value();
      line.help = true;
    } else if (option == "--version") {
      no_value();
      line.version = true;
    } else if (option == "--tcp") {
      set_endpoint(take_value(), options);
    } else if (option == "--rtu") {
      no_value();
      options.rtu_pty = true;
    } else if (option == "--unit-id") {
      add_unit_ids(take_value(), unit_ids, options.other_device_ids, "--unit-id");
    } else if (option == "--other-device") {
      add_unit_ids(take_value(), options.other_device_ids, unit_ids, "--other-device");
    } else if (option == "--baud") {
      baud = static_cast<int>(whole_number(take_value(), 1, kMaxBaud, "--baud"));
      if (!is_line_rate(*baud)) {
        bad("--baud: " + value + " is no rate a serial line is set to");
      }
    } else if (option == "--parity") {
      parity = parity_code(take_value());
    } else if (option == "--scenario") {
      options.scenario_path = take_value();
      if (options.scenario_path.empty()) {
        bad("--scenario needs a file name");
      }
    } else if (option == "--fault") {
      options.faults.rules.push_back(fault_rule(take_value()));
    } else if (option == "--seed") {
      options.faults.seed =
          static_cast<std::uint64_t>(whole_number(take_value(), 0, LLONG_MAX, "--seed"));
    } else if (option == "--mark-generations") {
      no_value();
      options.mark_generations = true;
    } else if (option == "--pace-baud") {
      options.pace_baud = static_cast<int>(whole_number(take_value(), 1, kMaxBaud, "--pace-baud"));
    } else if (option == "--strict-silence") {
      no_value();
      options.strict_silence = true;
    } else if (option == "--idle-close") {
      options.idle_close_ms =
          static_cast<int>(whole_number(take_value(), 1, INT_MAX, "--idle-close"));
    } else {
      bad("unknown option \"" + arguments[i] + "\" (see --help)");
    }
  }
  if (!unit_ids.empty()) {
    options.unit_ids = unit_ids;
  }
  if (std::find(options.unit_ids.begin(), options.unit_ids.end(), 1) != options.unit_ids.end() &&
      std::find(options.other_device_ids.begin(), options.other_device_ids.end(), 1) !=
          options.other_device_ids.end()) {
    bad("--other-device: unit 1 is served as a unit of this type (give --unit-id)");
  }
  if (parity && !baud) {
    bad("--parity needs --baud: the units' line settings");
  }
  if (baud) {
    options.line = LineFormat{*baud, parity.value_or('N')};
  }
  for (const FaultRule& rule : options.faults.rules) {
    if (rule.unit_id != 0 && std::find(options.unit_ids.begin(), options.unit_ids.end(),
                                       rule.unit_id) == options.unit_ids.end()) {
      bad(std::string("--fault ") + fault_name(rule.kind) + ": unit " +
          std::to_string(rule.unit_id) + " is not served");
    }
  }
  if (options.tcp_port < 0 && !options.rtu_pty) {
    options.tcp_port = 0;
  }
  return line;
}

const char* usage_text() {
  return R"(usage: velmocair-sim [options]

Simulates a precision air-conditioning unit on Modbus TCP and/or Modbus RTU
over a new pseudo-terminal. Prints one line per endpoint, "listening tcp
HOST:PORT" or "listening rtu /dev/pts/N", and serves until SIGINT or SIGTERM.

  --tcp [HOST:]PORT     serve Modbus TCP (host 127.0.0.1 by default; port 0:
                        any free port); without --tcp and --rtu: 127.0.0.1:0
  --rtu                 serve Modbus RTU on a new pseudo-terminal
  --unit-id LIST        unit addresses to serve, e.g. 1 or 1,3 or 1-8
                        (repeatable; default 1); others get no reply
  --other-device LIST   unit addresses served as another Modbus device: it
                        answers the first seven reads of the poll cycle and
                        refuses the rest, and every write, with exception 02
  --baud N              RTU: the units' own line rate, 8 data bits, 1 stop
                        bit; a master on the pseudo-terminal at other
                        settings is heard, and hears the replies, as over a
                        real line (default: any settings are the units')
  --parity P            with --baud: none (default), even or odd
  --scenario FILE       JSON scenario: values per unit and changes by cycle
  --fault RULE          inject a fault (repeatable; the first that strikes
                        a request applies). RULE is
                          KIND[=ARG][,rate=P][,cycles=A-B][,unit=N][,request=R]
                        KIND: no-reply, delay=MS, exception=CODE, wrong-echo,
                          broken-frame, drop, trailing=HEX (bytes after
                          the reply, e.g. trailing=ff), cut (half the
                          reply; TCP: then the connection closes)
                        rate: probability per request, 0..1 (default 1)
                        cycles: only while the unit is in cycles A..B
                        unit: only this unit address
                        R: any (default), coils, registers or write
  --seed N              seed of the fault draws (default 1)
  --mark-generations    put the cycle's generation in the first register of
                        every register block read (8001, 8101, 8133, 8501,
                        8509, 3501, 8205, 8221)
  --pace-baud N         keep the timing of a serial line of N baud 8N1: a
                        reply leaves byte by byte, after the request has
                        crossed the line and a 3.5-character silence (1.75
                        ms above 19200 baud); on RTU a request that comes
                        before 3.5 characters of silence is counted and
                        reported on standard error
  --strict-silence      with --pace-baud on RTU: leave such a request
                        unanswered, as a unit that finds frames by silence
  --idle-close MS       close a TCP connection that has carried no request
                        for MS milliseconds
  --help                show this text
  --version             show the version, )" VELMOCAIR_VERSION R"(

Exit status: 0 after SIGINT or SIGTERM, 1 when the simulator cannot start,
2 for a bad option.
)";
}

const char* version_line() { return "velmocair-sim " VELMOCAIR_VERSION "\n"; }

}  // namespace velmocair::sim
