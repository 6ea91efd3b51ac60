// Messages the MQTT bridge receives on its set topics: the topic matched
// to a unit and a command word, the payload parsed and range-checked. The
// first byte picks the set topic, the rest is the payload; the same bytes
// are also taken as a topic name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>

#include "cli/mqtt/set_topics.h"
#include "cli/mqtt/topic_layout.h"
#include "commands/control_commands.h"

namespace {

using velmocair::mqtt::kLeastSetPoint;
using velmocair::mqtt::kSetTopics;
using velmocair::mqtt::SetKind;
using velmocair::mqtt::SetParse;
using velmocair::mqtt::SetTopic;

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void check_payload(const SetTopic& topic, std::string_view payload) {
  const SetParse parsed = velmocair::mqtt::parse_set_payload(topic, payload);
  // Exactly one of a request and a refusal, which is one line.
  require(parsed.request.has_value() == parsed.refusal.empty());
  require(parsed.refusal.find('\n') == std::string::npos);
  if (!parsed.request) {
    return;
  }
  if (topic.kind == SetKind::on_off) {
    require(!parsed.request->value);
    require(parsed.request->command == topic.command ||
            parsed.request->command == topic.off_command);
    return;
  }
  require(parsed.request->command == topic.command && parsed.request->value.has_value());
  require(*parsed.request->value >= kLeastSetPoint && *parsed.request->value <= topic.most);
  // The numeric command carries it as an unsigned 16-bit number, written in tenths.
  require(*parsed.request->value * velmocair::kTenthsPerUnit <= velmocair::kMaxRegisterValue);
}

void check_topic(std::string_view topic) {
  static const velmocair::mqtt::TopicLayout layout("velmocair/site", "homeassistant");
  const auto address = layout.match_set(topic);
  if (!address) {
    return;
  }
  require(!address->unit.empty() && !address->word.empty());
  require(address->unit.find('/') == std::string_view::npos);
  require(address->word.find('/') == std::string_view::npos);
  require(layout.set(std::string(address->unit), std::string(address->word).c_str()) == topic);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // A topic arrives as a C string: up to its first zero byte.
  check_topic(bytes.substr(0, bytes.find('\0')));
  if (size == 0) {
    return 0;
  }
  const SetTopic& topic = kSetTopics[data[0] % std::size(kSetTopics)];
  check_payload(topic, bytes.substr(1));
  return 0;
}
