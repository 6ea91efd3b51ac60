#pragma once

#include <json/value.h>

#include <optional>
#include <string>
#include <vector>

#include "host/services/threshold_service.h"

namespace velmocair::cli {

// Reading the status document the device returns for code 801: a JSON
// object of groups, each with its values and, for groups with alarm points,
// an "AlertArray" object of booleans keyed like the group's alarm members;
// plus the update time. The document's flags are its own: some take another
// source than the alarm point of the same text, so the active alarm points
// are shown as the host's threshold rules last saw them (`active`).

std::optional<Json::Value> parse_status_text(const std::string& text);

// The update time the document carries, or "" without one.
std::string update_time(const Json::Value& document);

// The view for people: a heading, the line `link` (when not empty), the
// active alarm points as "#INDEX TEXT", then per group its values wrapped to
// the width of a terminal, the alarm flags it sets marked with "!" and a
// count of the set and clear ones.
std::string readable_view(const std::string& heading, const Json::Value& document,
                          const std::vector<sitehost::ActiveCheck>& active,
                          const std::string& link);

// One line: the update time, the active alarm points and, when not empty,
// `link` after a semicolon.
std::string summary_line(const std::string& heading, const Json::Value& document,
                         const std::vector<sitehost::ActiveCheck>& active, const std::string& link);

}  // namespace velmocair::cli
