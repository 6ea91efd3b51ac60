#include "simulator/scenario.h"

#include <json/json.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

#include "common/strict_json.h"

namespace velmocair::sim {
namespace {

constexpr int kMaxAddressDigits = 5;
constexpr int kMaxRegisterValue = 0xFFFF;
constexpr int kMaxUnitId = 247;

[[noreturn]] void fail(const std::string& where, const std::string& what) {
  throw std::runtime_error(where + ": " + what);
}

void expect_object(const Json::Value& value, const std::string& where,
                   std::initializer_list<const char*> allowed) {
  if (!value.isObject()) {
    fail(where, "must be an object");
  }
  for (const std::string& key : value.getMemberNames()) {
    if (std::none_of(allowed.begin(), allowed.end(),
                     [&](const char* name) { return key == name; })) {
      fail(where, "unknown member \"" + key + "\"");
    }
  }
}

int integer(const Json::Value& value, const std::string& where, int lowest, int highest) {
  if (!value.isInt() || value.asInt() < lowest || value.asInt() > highest) {
    fail(where, "must be an integer in " + std::to_string(lowest) + ".." + std::to_string(highest));
  }
  return value.asInt();
}

int address_of(const std::string& key, const std::string& where) {
  if (key.empty() || key.size() > kMaxAddressDigits ||
      !std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    fail(where, "\"" + key + "\" is not an address");
  }
  return std::stoi(key);
}

void read_changes(const Json::Value& parent, const std::string& where,
                  std::vector<UnitChange>& changes) {
  for (const Area area : {Area::coils, Area::registers}) {
    const char* const name = area == Area::coils ? "coils" : "registers";
    if (!parent.isMember(name)) {
      continue;
    }
    const Json::Value& values = parent[name];
    const std::string in = where + "." + name;
    if (!values.isObject()) {
      fail(in, "must be an object of address: value");
    }
    for (const std::string& key : values.getMemberNames()) {
      const std::string at = in + "." + key;
      const int address = address_of(key, at);
      if (!is_served(area, address, 1)) {
        fail(at, std::string("not a served ") + (area == Area::coils ? "coil" : "register"));
      }
      const Json::Value& value = values[key];
      const int number = area == Area::coils && value.isBool()
                             ? (value.asBool() ? 1 : 0)
                             : integer(value, at, 0, area == Area::coils ? 1 : kMaxRegisterValue);
      changes.push_back({area, address, static_cast<std::uint16_t>(number)});
    }
  }
}

// "ramps": {"8005": {"to": 240, "cycles": 600}}: registers moving to a value.
void read_ramps(const Json::Value& event, const std::string& where, std::vector<Ramp>& ramps) {
  if (!event.isMember("ramps")) {
    return;
  }
  const Json::Value& values = event["ramps"];
  const std::string in = where + ".ramps";
  if (!values.isObject()) {
    fail(in, "must be an object of address: {\"to\": value, \"cycles\": count}");
  }
  for (const std::string& key : values.getMemberNames()) {
    const std::string at = in + "." + key;
    const int address = address_of(key, at);
    if (!is_served(Area::registers, address, 1)) {
      fail(at, "not a served register");
    }
    expect_object(values[key], at, {"to", "cycles"});
    if (!values[key].isMember("to") || !values[key].isMember("cycles")) {
      fail(at, "needs \"to\" and \"cycles\"");
    }
    ramps.push_back(
        {address,
         static_cast<std::uint16_t>(integer(values[key]["to"], at + ".to", 0, kMaxRegisterValue)),
         integer(values[key]["cycles"], at + ".cycles", 1, INT_MAX)});
  }
}

UnitSetup read_unit(const Json::Value& entry, const std::string& where) {
  expect_object(entry, where, {"unit_id", "coils", "registers", "timeline"});
  UnitSetup setup;
  read_changes(entry, where, setup.initial);
  if (!entry.isMember("timeline")) {
    return setup;
  }
  const Json::Value& timeline = entry["timeline"];
  if (!timeline.isArray()) {
    fail(where + ".timeline", "must be an array");
  }
  for (Json::ArrayIndex i = 0; i < timeline.size(); ++i) {
    const std::string at = where + ".timeline[" + std::to_string(i) + "]";
    expect_object(timeline[i], at, {"cycle", "coils", "registers", "ramps"});
    if (!timeline[i].isMember("cycle")) {
      fail(at, "needs a \"cycle\"");
    }
    TimelineEvent event{integer(timeline[i]["cycle"], at + ".cycle", 1, INT_MAX), {}, {}};
    if (!setup.timeline.empty() && event.cycle < setup.timeline.back().cycle) {
      fail(at + ".cycle", "cycles must not go down");
    }
    read_changes(timeline[i], at, event.changes);
    read_ramps(timeline[i], at, event.ramps);
    setup.timeline.push_back(std::move(event));
  }
  return setup;
}

}  // namespace

std::map<int, UnitSetup> parse_scenario(const std::string& text, const std::string& origin,
                                        const std::vector<int>& served_units) {
  Json::Value root;
  std::string error;
  if (!parse_strict_json(text, root, error)) {
    fail(origin, "not valid JSON: " + error);
  }
  expect_object(root, origin, {"units"});
  const Json::Value& units = root["units"];
  if (!units.isArray()) {
    fail(origin + ": units", "must be an array");
  }
  std::map<int, UnitSetup> setups;
  for (Json::ArrayIndex i = 0; i < units.size(); ++i) {
    const std::string where = origin + ": units[" + std::to_string(i) + "]";
    if (!units[i].isObject() || !units[i].isMember("unit_id")) {
      fail(where, "must be an object with a \"unit_id\"");
    }
    const int id = integer(units[i]["unit_id"], where + ".unit_id", 1, kMaxUnitId);
    if (std::find(served_units.begin(), served_units.end(), id) == served_units.end()) {
      fail(where + ".unit_id", "unit " + std::to_string(id) + " is not served");
    }
    if (setups.count(id) != 0) {
      fail(where + ".unit_id", "unit " + std::to_string(id) + " appears twice");
    }
    setups.emplace(id, read_unit(units[i], where));
  }
  return setups;
}

std::map<int, UnitSetup> load_scenario(const std::string& path,
                                       const std::vector<int>& served_units) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    fail(path, std::string("cannot read the scenario file: ") + std::strerror(errno));
  }
  std::ostringstream text;
  text << file.rdbuf();
  return parse_scenario(text.str(), path, served_units);
}

}  // namespace velmocair::sim
