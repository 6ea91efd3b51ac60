#pragma once

#include <json/value.h>

#include <cstdint>
#include <optional>
#include <string>

#include "host/services/bus_address.h"

namespace velmocair::cli {

// One unit the host drives.
struct UnitConfig {
  std::string name;
  std::uint32_t data_id = 1;
  std::optional<sitehost::BusAddress> bus;  // none: never polled (decoding a stored record)
  Json::Value setting{Json::objectValue};   // handed to InitSetting
  // The unit's own time-out and retries, before --timeout-ms and --retries.
  std::optional<int> timeout_ms;
  std::optional<int> retries;
};

}  // namespace velmocair::cli
