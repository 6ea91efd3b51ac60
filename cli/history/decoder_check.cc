#include "cli/history/decoder_check.h"

#include <algorithm>
#include <iterator>

#include "alarms/alarm_table.h"
#include "commands/document_comparison.h"

namespace velmocair::cli {
namespace {

std::string points_text(const std::vector<AlarmPoint>& points) {
  std::string text;
  for (const AlarmPoint& point : points) {
    text += (text.empty() ? "#" : ", #") + std::to_string(point.index);
  }
  return text.empty() ? "none" : text;
}

bool same_points(const std::vector<AlarmPoint>& a, const std::vector<AlarmPoint>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const AlarmPoint& x, const AlarmPoint& y) {
                      return x.index == y.index && x.text == y.text;
                    });
}

}  // namespace

void table_alarm_points(const unsigned char* record, std::vector<AlarmPoint>& active) {
  active.clear();
  for (std::size_t i = 0; i < std::size(kAlarmTable); ++i) {
    if (record[kAlarmTable[i].offset.value] != 0) {
      active.push_back({static_cast<unsigned short>(i + 1), kAlarmTable[i].text});
    }
  }
}

bool any_alarm_active(const unsigned char* record) {
  return std::any_of(std::begin(kAlarmTable), std::end(kAlarmTable),
                     [record](const AlarmEntry& entry) { return record[entry.offset.value] != 0; });
}

std::string decoding_disagreement(status::RecordCells& cells, const PluginDecoder& plugin,
                                  const std::vector<status::RecordBytes>& more) {
  std::vector<status::RecordBytes> records = status::probe_records();
  const std::size_t probes = records.size();
  records.insert(records.end(), more.begin(), more.end());
  std::vector<AlarmPoint> points;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const std::string which =
        i < probes ? "probe record " + std::to_string(i + 1) : std::string("the first stored row");
    const PluginDecoding decoded = plugin(records[i]);
    if (decoded.document == nullptr) {
      return which + ": the plug-in refused it";
    }
    const auto difference =
        status::first_difference(cells, records[i].data(), records[i].size(), *decoded.document);
    if (difference) {
      return which + ": " + status::difference_text(*difference);
    }
    table_alarm_points(records[i].data(), points);
    if (!same_points(points, decoded.points)) {
      return which + ": alarm points active: decoded " + points_text(points) + ", the plug-in " +
             points_text(decoded.points);
    }
  }
  return {};
}

PluginDecoder plugin_decoding(RecordDecoder& decoder) {
  return [&decoder](const status::RecordBytes& record) {
    PluginDecoding decoded;
    decoded.document = decoder.document(std::vector<unsigned char>(record.begin(), record.end()));
    decoded.points = decoder.recorded_points();
    return decoded;
  };
}

}  // namespace velmocair::cli
