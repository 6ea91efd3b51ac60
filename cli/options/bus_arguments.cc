#include "cli/options/bus_arguments.h"

#include "cli/options/value_parsing.h"

namespace velmocair::cli {
namespace {

// Characters a shell word may hold unquoted.
constexpr const char* kPlainCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-.,:/=@%+";

std::string quoted(const std::string& word) {
  if (!word.empty() && word.find_first_not_of(kPlainCharacters) == std::string::npos) {
    return word;
  }
  std::string text = "'";
  for (const char c : word) {
    text += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return text + "'";
}

}  // namespace

std::vector<std::string> bus_arguments(const sitehost::BusAddress& bus, bool line_settings) {
  if (bus.kind == sitehost::BusAddress::tcp) {
    return {"--tcp", bus.endpoint.text()};
  }
  const sitehost::SerialLine& line = bus.line;
  std::vector<std::string> words{"--rtu", line.device};
  if (line_settings) {
    words.insert(words.end(),
                 {"--baud", std::to_string(line.baud), "--parity", parity_name(line.parity)});
    if (line.stop_bits != sitehost::SerialLine{}.stop_bits) {
      words.insert(words.end(), {"--stop-bits", std::to_string(line.stop_bits)});
    }
  }
  if (line.rs485.enabled) {
    words.push_back("--rs485");
    if (!line.rs485.rts_up) {
      words.insert(words.end(), {"--rts", "down"});
    }
    if (line.rs485.rts_delay_us) {
      words.insert(words.end(), {"--rts-delay-us", std::to_string(*line.rs485.rts_delay_us)});
    }
  }
  return words;
}

std::string shell_words(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    text += (text.empty() ? "" : " ") + quoted(word);
  }
  return text;
}

}  // namespace velmocair::cli
