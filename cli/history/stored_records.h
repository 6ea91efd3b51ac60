#pragma once

#include <string>

#include "cli/mqtt/gateway.h"

namespace velmocair::cli {

// The MQTT bridge's reader of the history for backfill: a unit's stored
// records whose own time stamps (the record's, set when its cycle
// completed) lie in the period asked for, oldest first, each with its
// status document. The document is decoded from the record's bytes by the
// document's own value rules (commands/record_cells.h), without a device
// of the plug-in, whose loading would touch what the host's other threads
// share. Reads the file read-only on the calling thread; throws
// std::runtime_error when the file cannot be read.
mqtt::HistoryReader stored_records(const std::string& history_path);

}  // namespace velmocair::cli
