#pragma once

#include <json/value.h>

#include <array>
#include <cstddef>
#include <string>

#include "cli/mqtt/document_members.h"
#include "cli/mqtt/record_time.h"

namespace velmocair::mqtt {

// A unit's status document reduced to one number per member, in the order
// of document_member(): a number's value (the document's values are single
// precision), a state text's position among its row's texts (kInvalidText
// for "无效值" or a text the row does not have), an alarm's 1 (active) or 0;
// NaN for a member the document lacks. Small and of fixed size, so that the
// latest state of every unit can be kept.
struct UnitValues {
  std::array<float, kMemberCount> cells;

  static UnitValues absent();
  bool operator==(const UnitValues& other) const;
  bool operator!=(const UnitValues& other) const { return !(*this == other); }
};

inline constexpr float kInvalidText = 3;

// Reads the members of a document as the plug-in builds it (code 801's
// text parsed, or the object code 803 hands out); what is missing or of
// another type stays NaN.
UnitValues extract_values(const Json::Value& document);

bool has_value(float cell);
bool same_cell(float a, float b);
bool alarm_active(float cell);

// The member's value as JSON: 25.3, "开机", true.
void append_member_value(std::string& out, std::size_t member, float cell);

// The status document as JSON text in UTF-8: the groups and their members,
// each group's "AlertArray", and "更新时间" written from `time` as the
// plug-in writes it.
std::string document_text(const UnitValues& values, const RecordTime& time);

// One member on its own topic: {"value":25.3,"time":"2021-03-05T07:08:09+08:00"}.
std::string value_payload(std::size_t member, float cell, const std::string& iso);

// The active alarms: {"count":2,"active":["室内机组状态/高温报警", ...],"time":"..."}.
std::string alarms_payload(const UnitValues& values, const std::string& iso);

// Whether any alarm member differs between the two.
bool alarms_differ(const UnitValues& a, const UnitValues& b);

}  // namespace velmocair::mqtt
