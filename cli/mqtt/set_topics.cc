#include "cli/mqtt/set_topics.h"

#include <cctype>

namespace velmocair::mqtt {
namespace {

// A payload longer than this is no command; it is not quoted back whole.
constexpr std::size_t kMaxPayload = 32;
// More digits than this cannot be a set-point and would overflow.
constexpr std::size_t kMaxDigits = 9;
constexpr int kDecimalBase = 10;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && is_space(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_space(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool same_word(std::string_view text, const char* word) {
  std::size_t i = 0;
  for (; i < text.size() && word[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != word[i]) {
      return false;
    }
  }
  return i == text.size() && word[i] == '\0';
}

// The payload as quoted in a refusal: printable ASCII only, cut short.
std::string shown(std::string_view payload) {
  std::string text;
  for (const char c : payload.substr(0, kMaxPayload)) {
    text += (c >= ' ' && c <= '~') ? c : '?';
  }
  return payload.size() > kMaxPayload ? text + "..." : text;
}

SetParse refused(const std::string& why, std::string_view payload) {
  return {std::nullopt, why + ": \"" + shown(payload) + "\""};
}

SetParse parse_on_off(const SetTopic& topic, std::string_view payload) {
  const std::string_view word = trimmed(payload);
  for (const OnOffWord& row : kOnOffWords) {
    if (same_word(word, row.word)) {
      return {
          SetRequest{row.on ? topic.command : topic.off_command, std::nullopt},
          ""
      };
    }
  }
  return refused("not ON, OFF, auto, off, start or stop", payload);
}

// A whole number, "23", "+23" or "23.0", with blanks around it.
SetParse parse_set_point(const SetTopic& topic, std::string_view payload) {
  std::string_view text = trimmed(payload);
  if (text.empty()) {
    return refused("empty: give a whole number", payload);
  }
  const bool negative = text.front() == '-';
  if (negative || text.front() == '+') {
    text.remove_prefix(1);
  }
  std::size_t digits = 0;
  long value = 0;
  while (digits < text.size() && is_digit(text[digits])) {
    if (digits == kMaxDigits) {
      return refused(
          "outside " + std::to_string(kLeastSetPoint) + ".." + std::to_string(topic.most), payload);
    }
    value = value * kDecimalBase + (text[digits] - '0');
    ++digits;
  }
  std::string_view fraction = text.substr(digits);
  if (digits == 0 || (!fraction.empty() && fraction.front() != '.')) {
    return refused("not a number", payload);
  }
  if (!fraction.empty()) {
    fraction.remove_prefix(1);
    for (const char c : fraction) {
      if (!is_digit(c)) {
        return refused("not a number", payload);
      }
      if (c != '0') {
        return refused("not a whole number", payload);
      }
    }
  }
  if (negative && value != 0) {
    value = -value;
  }
  if (value < kLeastSetPoint || value > topic.most) {
    return refused("outside " + std::to_string(kLeastSetPoint) + ".." + std::to_string(topic.most),
                   payload);
  }
  return {
      SetRequest{topic.command, static_cast<int>(value)},
      ""
  };
}

}  // namespace

const SetTopic* find_set_topic(std::string_view word) {
  for (const SetTopic& topic : kSetTopics) {
    if (word == topic.word) {
      return &topic;
    }
  }
  return nullptr;
}

SetParse parse_set_payload(const SetTopic& topic, std::string_view payload) {
  if (payload.size() > kMaxPayload) {
    return refused("longer than " + std::to_string(kMaxPayload) + " bytes", payload);
  }
  return topic.kind == SetKind::on_off ? parse_on_off(topic, payload)
                                       : parse_set_point(topic, payload);
}

}  // namespace velmocair::mqtt
