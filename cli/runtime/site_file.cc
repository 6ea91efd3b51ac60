#include "cli/runtime/site_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "cli/mqtt/broker_settings.h"
#include "cli/options/exit_status.h"
#include "cli/options/value_parsing.h"
#include "common/strict_json.h"

namespace velmocair::cli {
namespace {

constexpr const char* kSiteKeys[] = {"units", "history", "mqtt"};
constexpr const char* kHistoryKeys[] = {"file", "keep", "max_size"};
constexpr const char* kMqttKeys[] = {"url", "read_only"};
constexpr const char* kUnitKeys[] = {"name",    "data_id",    "transport",
                                     "setting", "timeout_ms", "retries"};
constexpr const char* kTransportKeys[] = {"tcp",       "rtu",       "baud", "parity",
                                          "data_bits", "stop_bits", "rs485"};
constexpr const char* kRs485Keys[] = {"rts", "rts_delay_us"};
// The keys of "setting"/"modbus" the host reads (SPModbus::InitSetting).
constexpr const char* kModbusKeys[] = {"unit_id", "baud"};
constexpr std::uint32_t kMaxDataId = 0xFFFFFFFF;

// `allowed`, when given, tells what may stand there instead.
template <std::size_t N>
void reject_unknown_keys(const Json::Value& object, const char* const (&known)[N],
                         const std::string& where, const std::string& allowed = "") {
  for (const std::string& key : object.getMemberNames()) {
    if (std::none_of(std::begin(known), std::end(known),
                     [&key](const char* name) { return key == name; })) {
      throw UsageError(where + ": unknown key \"" + key + "\"" +
                       (allowed.empty() ? "" : " (allowed: " + allowed + ")"));
    }
  }
}

std::string string_member(const Json::Value& object, const char* key, const std::string& where) {
  const Json::Value& value = object[key];
  if (!value.isString() || value.asString().empty()) {
    throw UsageError(where + ": \"" + key + "\" must be a non-empty string");
  }
  return value.asString();
}

int int_member(const Json::Value& object, const char* key, int low, int high,
               const std::string& where) {
  const Json::Value& value = object[key];
  if (!value.isInt() || value.asInt() < low || value.asInt() > high) {
    throw UsageError(where + ": \"" + key + "\" must be a whole number " + std::to_string(low) +
                     ".." + std::to_string(high));
  }
  return value.asInt();
}

int baud_member(const Json::Value& object, const char* key, const std::string& where) {
  const Json::Value& value = object[key];
  if (!value.isInt() || !is_baud_rate(value.asInt())) {
    throw UsageError(where + ": \"" + key +
                     "\" must be a baud rate the serial line can be set to (" + baud_rate_list() +
                     ")");
  }
  return value.asInt();
}

// The host's own keys of the configuration; the rest (the plug-in's
// "appSetting" and anything else) goes to InitSetting unchecked.
void check_host_setting(const Json::Value& setting, sitehost::BusAddress::Kind bus,
                        const std::string& where) {
  if (!setting.isMember("modbus")) {
    return;
  }
  const bool tcp = bus == sitehost::BusAddress::tcp;
  const int lowest = tcp ? kMinTcpUnitId : kMinUnitId;
  const int highest = tcp ? kMaxTcpUnitId : kMaxUnitId;
  const Json::Value& modbus = setting["modbus"];
  const std::string in = where + " setting modbus";
  if (!modbus.isObject()) {
    throw UsageError(in + ": must be an object");
  }
  reject_unknown_keys(modbus, kModbusKeys, in,
                      "\"unit_id\" " + std::to_string(lowest) + ".." + std::to_string(highest) +
                          ", \"baud\" a serial baud rate");
  if (modbus.isMember("unit_id")) {
    int_member(modbus, "unit_id", lowest, highest, in);
  }
  if (modbus.isMember("baud")) {
    baud_member(modbus, "baud", in);
  }
}

// {"rts": "up" or "down", "rts_delay_us": N}, both optional.
sitehost::Rs485 parse_rs485(const Json::Value& rs485, const std::string& where) {
  if (!rs485.isObject()) {
    throw UsageError(where + ": must be an object");
  }
  reject_unknown_keys(
      rs485, kRs485Keys, where,
      "\"rts\" \"up\" or \"down\", \"rts_delay_us\" 0.." + std::to_string(kMaxRtsDelayUs));
  sitehost::Rs485 settings;
  settings.enabled = true;
  if (rs485.isMember("rts")) {
    const std::string rts = string_member(rs485, "rts", where);
    if (rts != "up" && rts != "down") {
      throw UsageError(where + ": \"rts\" must be \"up\" or \"down\"");
    }
    settings.rts_up = rts == "up";
  }
  if (rs485.isMember("rts_delay_us")) {
    settings.rts_delay_us = int_member(rs485, "rts_delay_us", 0, kMaxRtsDelayUs, where);
  }
  return settings;
}

sitehost::BusAddress parse_transport(const Json::Value& transport, const std::string& where) {
  if (!transport.isObject()) {
    throw UsageError(where + ": \"transport\" must be an object");
  }
  reject_unknown_keys(transport, kTransportKeys, where + " transport");
  sitehost::BusAddress bus;
  const bool tcp = transport.isMember("tcp");
  if (tcp == transport.isMember("rtu")) {
    throw UsageError(where + ": \"transport\" needs exactly one of \"tcp\" and \"rtu\"");
  }
  if (tcp) {
    if (transport.size() != 1) {
      throw UsageError(where + ": serial line keys need an \"rtu\" transport");
    }
    bus.kind = sitehost::BusAddress::tcp;
    bus.endpoint = parse_endpoint(string_member(transport, "tcp", where), where + " tcp");
    return bus;
  }
  bus.kind = sitehost::BusAddress::rtu;
  bus.line.device = string_member(transport, "rtu", where);
  if (transport.isMember("baud")) {
    bus.line.baud = baud_member(transport, "baud", where);
  }
  if (transport.isMember("parity")) {
    bus.line.parity = parse_parity(string_member(transport, "parity", where), where + " parity");
  }
  if (transport.isMember("data_bits")) {
    bus.line.data_bits = int_member(transport, "data_bits", kMinDataBits, kMaxDataBits, where);
  }
  if (transport.isMember("stop_bits")) {
    bus.line.stop_bits = int_member(transport, "stop_bits", kMinStopBits, kMaxStopBits, where);
  }
  if (transport.isMember("rs485")) {
    bus.line.rs485 = parse_rs485(transport["rs485"], where + " rs485");
  }
  return bus;
}

UnitConfig parse_unit(const Json::Value& entry, const std::string& where) {
  if (!entry.isObject()) {
    throw UsageError(where + ": must be an object");
  }
  reject_unknown_keys(entry, kUnitKeys, where);
  UnitConfig unit;
  unit.name = string_member(entry, "name", where);
  const std::string named = where + " (" + unit.name + ")";
  const Json::Value& data_id = entry["data_id"];
  if (!data_id.isUInt64() || data_id.asUInt64() > kMaxDataId) {
    throw UsageError(named + ": \"data_id\" must be a whole number 0..4294967295");
  }
  unit.data_id = static_cast<std::uint32_t>(data_id.asUInt64());
  unit.bus = parse_transport(entry["transport"], named);
  if (entry.isMember("setting")) {
    if (!entry["setting"].isObject()) {
      throw UsageError(named + ": \"setting\" must be an object");
    }
    check_host_setting(entry["setting"], unit.bus->kind, named);
    unit.setting = entry["setting"];
  }
  if (entry.isMember("timeout_ms")) {
    unit.timeout_ms = int_member(entry, "timeout_ms", 1, kMaxTimeoutMs, named);
  }
  if (entry.isMember("retries")) {
    unit.retries = int_member(entry, "retries", 0, kMaxRetries, named);
  }
  return unit;
}

sitehost::Retention parse_history(const Json::Value& history, const std::string& origin) {
  const std::string where = origin + ": history";
  if (!history.isObject()) {
    throw UsageError(where + ": must be an object");
  }
  reject_unknown_keys(history, kHistoryKeys, where, "\"file\", \"keep\", \"max_size\"");
  sitehost::Retention retention;
  if (history.isMember("keep")) {
    retention.keep_seconds = parse_duration(string_member(history, "keep", where), where + " keep");
  }
  if (history.isMember("max_size")) {
    retention.max_bytes =
        parse_size(string_member(history, "max_size", where), where + " max_size");
  }
  return retention;
}

MqttRequest parse_mqtt(const Json::Value& object, const std::string& origin) {
  const std::string where = origin + ": mqtt";
  if (!object.isObject()) {
    throw UsageError(where + ": must be an object");
  }
  reject_unknown_keys(object, kMqttKeys, where, "\"url\", \"read_only\"");
  MqttRequest request;
  request.url = string_member(object, "url", where);
  try {
    mqtt::parse_broker_url(request.url, where + " url");
  } catch (const mqtt::BrokerSettingsError& error) {
    throw UsageError(error.what());
  }
  if (object.isMember("read_only")) {
    if (!object["read_only"].isBool()) {
      throw UsageError(where + ": \"read_only\" must be true or false");
    }
    request.read_only = object["read_only"].asBool();
  }
  return request;
}

}  // namespace

SiteFile parse_site_text(const std::string& text, const std::string& origin) {
  Json::Value root;
  std::string error;
  if (!parse_strict_json(text, root, error)) {
    throw UsageError(origin + ": not valid JSON: " + error);
  }
  if (!root.isObject() || !root["units"].isArray() || root["units"].empty()) {
    throw UsageError(origin + ": expected an object with a non-empty \"units\" array");
  }
  reject_unknown_keys(root, kSiteKeys, origin);
  SiteFile site;
  if (root.isMember("history")) {
    site.history = parse_history(root["history"], origin);
    if (root["history"].isMember("file")) {
      site.history_file = string_member(root["history"], "file", origin + ": history");
    }
  }
  if (root.isMember("mqtt")) {
    site.mqtt = parse_mqtt(root["mqtt"], origin);
  }
  std::vector<UnitConfig>& units = site.units;
  std::set<std::string> names;
  std::set<std::uint32_t> data_ids;
  const Json::Value& entries = root["units"];
  for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
    UnitConfig unit = parse_unit(entries[i], origin + ": unit " + std::to_string(i + 1));
    if (!names.insert(unit.name).second) {
      throw UsageError(origin + ": unit name \"" + unit.name + "\" given twice");
    }
    if (!data_ids.insert(unit.data_id).second) {
      throw UsageError(origin + ": data id " + std::to_string(unit.data_id) + " given twice");
    }
    units.push_back(std::move(unit));
  }
  return site;
}

Json::Value transport_json(const sitehost::BusAddress& bus) {
  Json::Value transport(Json::objectValue);
  if (bus.kind == sitehost::BusAddress::tcp) {
    transport["tcp"] = bus.endpoint.text();
    return transport;
  }
  const sitehost::SerialLine& line = bus.line;
  transport["rtu"] = line.device;
  transport["baud"] = line.baud;
  transport["parity"] = parity_name(line.parity);
  transport["data_bits"] = line.data_bits;
  transport["stop_bits"] = line.stop_bits;
  if (line.rs485.enabled) {
    Json::Value& rs485 = transport["rs485"] = Json::Value(Json::objectValue);
    rs485["rts"] = line.rs485.rts_up ? "up" : "down";
    if (line.rs485.rts_delay_us) {
      rs485["rts_delay_us"] = *line.rs485.rts_delay_us;
    }
  }
  return transport;
}

SiteFile load_site_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw UsageError(path + ": cannot read the site file: " + std::strerror(errno));
  }
  std::ostringstream text;
  text << file.rdbuf();
  return parse_site_text(text.str(), path);
}

}  // namespace velmocair::cli
