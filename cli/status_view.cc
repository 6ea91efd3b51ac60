#include "cli/status_view.h"

#include <json/reader.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>

namespace velmocair::cli {
namespace {

constexpr const char* kAlertMapKey = "AlertArray";
constexpr const char* kUpdateTimeKey = "更新时间";
constexpr std::size_t kViewWidth = 100;
constexpr const char* kIndent = "  ";
constexpr const char* kSeparator = "  ";
constexpr const char* kActiveMark = "! ";

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
  const Json::Value& alerts = group[kAlertMapKey];
  std::vector<std::string> values;
  std::vector<std::string> active;
  unsigned normal = 0;
  for (const std::string& key : group.getMemberNames()) {
    if (key == kAlertMapKey) {
      continue;
    }
    if (!alerts.isObject() || !alerts.isMember(key)) {
      values.push_back(key + " " + value_text(group[key]));
    } else if (alerts[key].asBool()) {
      active.push_back(kActiveMark + key);
    } else {
      ++normal;
    }
  }
  out << name << "\n";
  wrap(values, out);
  wrap(active, out);
  if (alerts.isObject()) {
    out << kIndent << (active.empty() ? "no active alarm, " : "") << normal
        << " alarm points normal\n";
  }
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

std::vector<std::string> active_alarms(const Json::Value& document) {
  std::vector<std::string> active;
  for (const std::string& name : document.getMemberNames()) {
    const Json::Value& group = document[name];
    const Json::Value& alerts =
        group.isObject() ? group[kAlertMapKey] : Json::Value::nullSingleton();
    if (!alerts.isObject()) {
      continue;
    }
    for (const std::string& key : alerts.getMemberNames()) {
      if (alerts[key].asBool()) {
        active.push_back(name + "/" + key);
      }
    }
  }
  return active;
}

std::string update_time(const Json::Value& document) {
  const Json::Value& time = document[kUpdateTimeKey];
  return time.isString() ? time.asString() : "";
}

std::string readable_view(const std::string& heading, const Json::Value& document) {
  std::ostringstream out;
  out << "== " << heading << ", " << kUpdateTimeKey << " " << update_time(document) << " ==\n";
  for (const std::string& name : document.getMemberNames()) {
    if (document[name].isObject()) {
      view_group(name, document[name], out);
    }
  }
  return out.str();
}

std::string summary_line(const std::string& heading, const Json::Value& document) {
  const std::vector<std::string> active = active_alarms(document);
  std::ostringstream out;
  out << heading << ": updated " << update_time(document) << ", " << active.size()
      << (active.size() == 1 ? " active alarm" : " active alarms");
  for (std::size_t i = 0; i < active.size(); ++i) {
    out << (i == 0 ? ": " : ", ") << active[i];
  }
  out << "\n";
  return out.str();
}

}  // namespace velmocair::cli
