#pragma once

#include <string>

#include "cli/mqtt/gateway.h"

namespace velmocair::cli {

// The MQTT bridge's reader of the history for backfill: a unit's stored
// records whose own time stamps (the record's, set when its cycle
// completed) lie in the period asked for, oldest first, each with the
// status document the plug-in builds from it. Reads the file read-only on
// the calling thread (the bridge's), through a device of its own; throws
// std::runtime_error when the file cannot be read. Throws RunError now
// when the plug-in cannot be loaded.
mqtt::HistoryReader stored_records(const std::string& history_path, const std::string& plugin_path);

}  // namespace velmocair::cli
