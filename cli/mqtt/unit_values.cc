#include "cli/mqtt/unit_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>
#include <vector>

namespace velmocair::mqtt {
namespace {

using status::Rule;

// Texts the document is written with need no JSON escapes.
constexpr bool plain_json_text(const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text == '"' || *text == '\\' || static_cast<unsigned char>(*text) < ' ') {
      return false;
    }
  }
  return true;
}

constexpr bool document_texts_are_plain() {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    const status::Member& member = document_member(i);
    const bool state = member.rule == Rule::state_text;
    if (!plain_json_text(member.group) || !plain_json_text(member.key) ||
        (state && (!plain_json_text(member.texts.for0) || !plain_json_text(member.texts.for1)))) {
      return false;
    }
  }
  // The only third text is the power feed's.
  return plain_json_text(status::kPowerFeed.for2) && plain_json_text(status::kInvalid) &&
         plain_json_text(status::kUpdateTime) && plain_json_text(status::kAlarmActive) &&
         plain_json_text(status::kAlarmNormal) && plain_json_text(status::kAlertArray);
}
static_assert(document_texts_are_plain(), "the document's keys and texts need no escapes");

bool text_is(std::string_view text, const char* expected) {
  return expected != nullptr && text == expected;
}

// Where each member of a group stands among the group's keys, sorted as the
// JSON library keeps an object's members (by their bytes), so that a
// group's members are matched in one pass.
struct GroupKeys {
  std::string name;
  std::vector<std::pair<std::string_view, std::size_t>> keys;  // key, member
  std::vector<std::size_t> members;                            // in plan order
};

std::vector<GroupKeys> build_group_keys() {
  std::vector<GroupKeys> groups;
  for (const char* name : kGroups) {
    GroupKeys group{name, {}, {}};
    for (std::size_t i = 0; i < kMemberCount; ++i) {
      if (std::strcmp(document_member(i).group, name) == 0) {
        group.keys.emplace_back(document_member(i).key, i);
        group.members.push_back(i);
      }
    }
    std::sort(group.keys.begin(), group.keys.end());
    groups.push_back(std::move(group));
  }
  return groups;
}

const std::vector<GroupKeys>& group_keys() {
  static const std::vector<GroupKeys> groups = build_group_keys();
  return groups;
}

float state_position(const status::StateTexts& texts, std::string_view text) {
  if (text_is(text, texts.for0)) {
    return 0;
  }
  if (text_is(text, texts.for1)) {
    return 1;
  }
  if (text_is(text, texts.for2)) {
    return 2;
  }
  return kInvalidText;
}

float cell_of(std::size_t member_index, const Json::Value& value) {
  const status::Member& member = document_member(member_index);
  constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
  if (member.rule == Rule::number) {
    return value.isNumeric() ? static_cast<float>(value.asDouble()) : kNone;
  }
  const char* begin = nullptr;
  const char* end = nullptr;
  if (!value.isString() || !value.getString(&begin, &end)) {
    return kNone;
  }
  const std::string_view text(begin, static_cast<std::size_t>(end - begin));
  if (member.rule == Rule::state_text) {
    return state_position(member.texts, text);
  }
  return text_is(text, status::kAlarmActive)   ? 1.0F
         : text_is(text, status::kAlarmNormal) ? 0.0F
                                               : kNone;
}

const char* state_text(const status::StateTexts& texts, float position) {
  const char* const by_position[] = {texts.for0, texts.for1, texts.for2};
  for (std::size_t i = 0; i < std::size(by_position); ++i) {
    if (position == static_cast<float>(i) && by_position[i] != nullptr) {
      return by_position[i];
    }
  }
  return status::kInvalid;
}

void append_quoted(std::string& out, const char* text) {
  out += '"';
  out += text;
  out += '"';
}

void append_number(std::string& out, float value) {
  char digits[32];
  const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
  out.append(digits, result.ptr);
}

}  // namespace

UnitValues UnitValues::absent() {
  UnitValues values;
  values.cells.fill(std::numeric_limits<float>::quiet_NaN());
  return values;
}

bool UnitValues::operator==(const UnitValues& other) const {
  return std::equal(cells.begin(), cells.end(), other.cells.begin(), same_cell);
}

bool has_value(float cell) { return !std::isnan(cell); }

bool same_cell(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

bool alarm_active(float cell) { return cell == 1.0F; }

UnitValues extract_values(const Json::Value& document) {
  UnitValues values = UnitValues::absent();
  if (!document.isObject()) {
    return values;
  }
  for (const GroupKeys& group : group_keys()) {
    const Json::Value* object =
        document.find(group.name.data(), group.name.data() + group.name.size());
    if (object == nullptr || !object->isObject()) {
      continue;
    }
    // Both run in byte order of the keys: one pass matches them.
    auto expected = group.keys.begin();
    for (auto it = object->begin(); it != object->end() && expected != group.keys.end(); ++it) {
      const char* end = nullptr;
      const char* name = it.memberName(&end);
      const std::string_view key(name, static_cast<std::size_t>(end - name));
      while (expected != group.keys.end() && expected->first < key) {
        ++expected;
      }
      if (expected != group.keys.end() && expected->first == key) {
        values.cells[expected->second] = cell_of(expected->second, *it);
        ++expected;
      }
    }
  }
  return values;
}

void append_member_value(std::string& out, std::size_t member_index, float cell) {
  const status::Member& member = document_member(member_index);
  switch (member.rule) {
    case Rule::number:
      append_number(out, cell);
      return;
    case Rule::state_text:
      append_quoted(out, state_text(member.texts, cell));
      return;
    case Rule::alarm:
      out += alarm_active(cell) ? "true" : "false";
      return;
  }
}

std::string document_text(const UnitValues& values, const RecordTime& time) {
  std::string out;
  out.reserve(16384);
  out += '{';
  for (const GroupKeys& group : group_keys()) {
    out += '"';
    out += group.name;
    out += "\":{";
    std::string alerts;
    for (const std::size_t i : group.members) {
      const status::Member& member = document_member(i);
      const float cell = values.cells[i];
      if (!has_value(cell)) {
        continue;
      }
      append_quoted(out, member.key);
      out += ':';
      if (member.rule == Rule::alarm) {
        append_quoted(out, alarm_active(cell) ? status::kAlarmActive : status::kAlarmNormal);
        alerts += alerts.empty() ? "" : ",";
        append_quoted(alerts, member.key);
        alerts += alarm_active(cell) ? ":true" : ":false";
      } else {
        append_member_value(out, i, cell);
      }
      out += ',';
    }
    if (!alerts.empty()) {
      append_quoted(out, status::kAlertArray);
      out += ":{" + alerts + "},";
    }
    if (out.back() == ',') {
      out.pop_back();
    }
    out += "},";
  }
  append_quoted(out, status::kUpdateTime);
  out += ':';
  append_quoted(out, document_time_text(time).c_str());
  out += '}';
  return out;
}

std::string value_payload(std::size_t member, float cell, const std::string& iso) {
  std::string out = "{\"value\":";
  append_member_value(out, member, cell);
  out += ",\"time\":\"" + iso + "\"}";
  return out;
}

std::string alarms_payload(const UnitValues& values, const std::string& iso) {
  std::string active;
  int count = 0;
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    const status::Member& member = document_member(i);
    if (member.rule == Rule::alarm && alarm_active(values.cells[i])) {
      active += count++ == 0 ? "\"" : ",\"";
      active += member.group;
      active += '/';
      active += member.key;
      active += '"';
    }
  }
  return "{\"count\":" + std::to_string(count) + ",\"active\":[" + active + "],\"time\":\"" + iso +
         "\"}";
}

bool alarms_differ(const UnitValues& a, const UnitValues& b) {
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    if (document_member(i).rule == Rule::alarm && !same_cell(a.cells[i], b.cells[i])) {
      return true;
    }
  }
  return false;
}

}  // namespace velmocair::mqtt
