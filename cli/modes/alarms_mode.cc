#include "cli/history/alarm_events.h"
#include "cli/history/history_reading.h"
#include "cli/history/output_file.h"
#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"

namespace velmocair::cli {

int run_alarms(const HostOptions& options) {
  const auto store = open_history_to_read(options.history);
  RecordDecoder decoder(options.plugin);
  AlarmEventTracker tracker;
  std::vector<AlarmPoint> active;
  std::size_t refused = 0;
  const std::string error =
      store->for_each_row(row_filter(options), [&](const sitehost::HistoryRow& row) {
        if (decoder.active_points(row.record, active)) {
          tracker.row(row.data_id, row.time, active);
        } else {
          ++refused;
        }
      });
  if (!error.empty()) {
    throw RunError(options.history + ": " + error);
  }
  if (tracker.spans().empty()) {
    print_out("no stored records in " + rows_origin(options) + "\n");
  } else {
    print_out(alarm_report(tracker));
  }
  return reading_status(options, refused);
}

std::string alarms_help() {
  return "usage: velmocair-host history alarms --history FILE [--data-id N] [--from TIME] "
         "[--to TIME]\n\n"
         "The alarm events in the period, from the stored records evaluated by the\n"
         "plug-in: each raise of an alarm point (#INDEX TEXT) with its clearing and how\n"
         "long it was active, then a count and total duration per point.\n";
}

}  // namespace velmocair::cli
