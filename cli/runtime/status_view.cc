#include "cli/runtime/status_view.h"

#include <json/reader.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

#include "commands/status_document_table.h"

namespace velmocair::cli {
namespace {

using status::kAlertArray;
using status::kUpdateTime;
constexpr std::size_t kViewWidth = 100;
constexpr const char* kIndent = "  ";
constexpr const char* kSeparator = "  ";
constexpr const char* kFlagSetMark = "! ";

// Columns a UTF-8 text takes on a terminal: wide (East Asian) characters
// take two.
std::size_t display_width(const std::string& text) {
  constexpr unsigned kFirstWideCodePoint = 0x1100;
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    unsigned code_point = length == 1 ? lead : lead & (0x7FU >> length);
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
      code_point = (code_point << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3FU);
    }
    width += code_point >= kFirstWideCodePoint ? 2 : 1;
    i += length;
  }
  return width;
}

std::string value_text(const Json::Value& value) {
  if (value.isString()) {
    return value.asString();
  }
  if (value.isBool()) {
    return value.asBool() ? "true" : "false";
  }
  if (value.isNumeric()) {
    const double number = value.asDouble();
    char text[32];
    std::snprintf(text, sizeof text, number == std::floor(number) ? "%.0f" : "%.1f", number);
    return text;
  }
  return "?";
}

// Appends the items to `out` as indented lines no wider than the view.
void wrap(const std::vector<std::string>& items, std::ostringstream& out) {
  std::string line;
  for (const std::string& item : items) {
    if (!line.empty() &&
        display_width(line) + display_width(kSeparator) + display_width(item) > kViewWidth) {
      out << line << "\n";
      line.clear();
    }
    line += line.empty() ? kIndent + item : kSeparator + item;
  }
  if (!line.empty()) {
    out << line << "\n";
  }
}

void view_group(const std::string& name, const Json::Value& group, std::ostringstream& out) {
  const Json::Value& alerts = group[kAlertArray];
  std::vector<std::string> values;
  std::vector<std::string> set;
  unsigned clear = 0;
  for (const std::string& key : group.getMemberNames()) {
    if (key == kAlertArray) {
      continue;
    }
    if (!alerts.isObject() || !alerts.isMember(key)) {
      values.push_back(key + " " + value_text(group[key]));
    } else if (alerts[key].asBool()) {
      set.push_back(kFlagSetMark + key);
    } else {
      ++clear;
    }
  }
  out << name << "\n";
  wrap(values, out);
  wrap(set, out);
  if (alerts.isObject()) {
    out << kIndent << "alarm flags: " << set.size() << " set, " << clear << " clear\n";
  }
}

std::string point_text(const sitehost::ActiveCheck& point) {
  return "#" + std::to_string(point.index) + " " + point.text;
}

}  // namespace

std::optional<Json::Value> parse_status_text(const std::string& text) {
  Json::CharReaderBuilder builder;
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  Json::Value document;
  if (!reader->parse(text.data(), text.data() + text.size(), &document, nullptr) ||
      !document.isObject()) {
    return std::nullopt;
  }
  return document;
}

std::string update_time(const Json::Value& document) {
  const Json::Value& time = document[kUpdateTime];
  return time.isString() ? time.asString() : "";
}

std::string readable_view(const std::string& heading, const Json::Value& document,
                          const std::vector<sitehost::ActiveCheck>& active,
                          const std::string& link) {
  std::ostringstream out;
  out << "== " << heading << ", " << kUpdateTime << " " << update_time(document) << " ==\n";
  if (!link.empty()) {
    out << link << "\n";
  }
  out << "active alarm points: " << active.size() << "\n";
  std::vector<std::string> points;
  for (const sitehost::ActiveCheck& point : active) {
    points.push_back(point_text(point));
  }
  wrap(points, out);
  for (const std::string& name : document.getMemberNames()) {
    if (document[name].isObject()) {
      view_group(name, document[name], out);
    }
  }
  return out.str();
}

std::string summary_line(const std::string& heading, const Json::Value& document,
                         const std::vector<sitehost::ActiveCheck>& active,
                         const std::string& link) {
  std::ostringstream out;
  out << heading << ": updated " << update_time(document) << ", " << active.size()
      << (active.size() == 1 ? " active alarm point" : " active alarm points");
  for (std::size_t i = 0; i < active.size(); ++i) {
    out << (i == 0 ? ": " : ", ") << point_text(active[i]);
  }
  if (!link.empty()) {
    out << "; " << link;
  }
  out << "\n";
  return out.str();
}

}  // namespace velmocair::cli
