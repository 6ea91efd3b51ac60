#pragma once

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/history/record_decoder.h"
#include "commands/probe_records.h"
#include "commands/record_cells.h"

namespace velmocair::cli {

// The alarm points active in a record as the device's evaluation reports
// them, read from the alarm table it evaluates: every point whose record
// byte is not 0, in table order, numbered from 1.
void table_alarm_points(const unsigned char* record, std::vector<AlarmPoint>& active);

// True when any of the record's alarm points is active.
bool any_alarm_active(const unsigned char* record);

// What the plug-in made of a record: its status document (null when it
// refused the record) and the alarm points its evaluation found active.
struct PluginDecoding {
  const Json::Value* document = nullptr;
  std::vector<AlarmPoint> points;
};
using PluginDecoder = std::function<PluginDecoding(const status::RecordBytes&)>;

// Compares the decoding without a device (the cells and the alarm table)
// with the plug-in's, on the probe records and then on `more` (the first
// stored row): one line naming the first record and leaf or point that
// differ, empty when they all agree.
std::string decoding_disagreement(status::RecordCells& cells, const PluginDecoder& plugin,
                                  const std::vector<status::RecordBytes>& more);

// The plug-in's decoding through a RecordDecoder.
PluginDecoder plugin_decoding(RecordDecoder& decoder);

}  // namespace velmocair::cli
