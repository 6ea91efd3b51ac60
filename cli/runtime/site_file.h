#pragma once

#include <string>
#include <vector>

#include "cli/options/mqtt_request.h"
#include "cli/runtime/unit_config.h"
#include "host/services/history_retention.h"

namespace velmocair::cli {

// Site file: the units one host drives.
//   {"units": [
//     {"name": "crac-1", "data_id": 1001,
//      "transport": {"tcp": "192.168.1.20:502"},
//      "setting": {"appSetting": {"b_mode": 1}, "modbus": {"unit_id": 1}}},
//     {"name": "crac-2", "data_id": 1002,
//      "transport": {"rtu": "/dev/ttyUSB0", "baud": 9600, "parity": "none",
//                    "data_bits": 8, "stop_bits": 1},
//      "setting": {"modbus": {"unit_id": 2}}}]}
// "setting" (optional, default {}) is handed to the device's InitSetting as
// it stands; of it the host checks only its own "modbus" object (keys
// "unit_id" 1..247, over TCP 0..255, and "baud", a rate of kBaudRates).
// A unit's optional "timeout_ms" (1..60000) and "retries" (0..10) stand
// before --timeout-ms and --retries. Serial keys other than "rtu" are optional
// (baud: the unit's resolved rate; parity none, 8 data bits, 1 stop bit). Unknown keys, repeated
// names or data ids are errors. Throws UsageError with a one-line reason.
// An optional "history": {"file": "site-a.sqlite", "keep": "30d",
// "max_size": "500MB"} names the history file (--history) and bounds it
// (--history-keep, --history-max-size). An optional "mqtt": {"url":
// "mqtt://broker/velmocair", "read_only": false} starts the MQTT bridge
// (--mqtt, --mqtt-read-only; docs/mqtt.md).
struct SiteFile {
  std::vector<UnitConfig> units;
  sitehost::Retention history;
  std::string history_file;  // empty: none
  MqttRequest mqtt;          // url empty: no bridge
};
SiteFile parse_site_text(const std::string& text, const std::string& origin);
SiteFile load_site_file(const std::string& path);

// The "transport" object of a site file that names `bus`, with every line
// setting of a serial line.
Json::Value transport_json(const sitehost::BusAddress& bus);

}  // namespace velmocair::cli
