#pragma once

#include <json/value.h>

#include <optional>
#include <string>
#include <vector>

namespace velmocair::cli {

// Reading the status document the device returns for code 801: a JSON
// object of groups, each with its values and, for groups with alarm points,
// an "AlertArray" object of booleans keyed like the group's alarm members;
// plus the update time.

std::optional<Json::Value> parse_status_text(const std::string& text);

// "group/alarm" for every active alarm point, in document order.
std::vector<std::string> active_alarms(const Json::Value& document);

// The update time the document carries, or "" without one.
std::string update_time(const Json::Value& document);

// The view for people: a heading, then per group its values wrapped to the
// width of a terminal, its active alarms marked with "!" and a count of the
// normal ones.
std::string readable_view(const std::string& heading, const Json::Value& document);

// One line: the update time and the active alarms.
std::string summary_line(const std::string& heading, const Json::Value& document);

}  // namespace velmocair::cli
