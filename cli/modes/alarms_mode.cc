#include "cli/history/alarm_events.h"
#include "cli/history/decoder_check.h"
#include "cli/history/history_reading.h"
#include "cli/history/output_file.h"
#include "cli/history/stored_rows.h"
#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"
#include "device/Velmocair_Data_t.h"

namespace velmocair::cli {

int run_alarms(const HostOptions& options) {
  StoredRows rows(options);
  AlarmEventTracker tracker;
  std::vector<AlarmPoint> active;
  std::vector<unsigned char> record;
  std::size_t refused = 0;
  while (rows.next()) {
    const sitehost::StoredRow& row = rows.row();
    bool decoded = row.record_size == sizeof(Velmocair_Data_t);
    if (!rows.through_plugin() && decoded) {
      table_alarm_points(row.record, active);
    } else if (rows.through_plugin()) {
      record.assign(row.record, row.record + row.record_size);
      decoded = rows.plugin().active_points(record, active);
    }
    if (decoded) {
      tracker.row(row.data_id, row.time, active);
    } else {
      ++refused;
    }
  }
  OutputFile out(options.output);
  out.write(tracker.spans().empty() ? "no stored records in " + rows_origin(options) + "\n"
                                    : alarm_report(tracker));
  out.commit();
  return reading_status(options, refused);
}

std::string alarms_help() {
  return "usage: velmocair-host history alarms --history FILE [--data-id N] [--from TIME] "
         "[--to TIME] [-o FILE]\n\n"
         "The alarm events in the period, from the stored records evaluated by the\n"
         "plug-in: each raise of an alarm point (#INDEX TEXT) with its clearing and how\n"
         "long it was active, then a count and total duration per point.\n";
}

}  // namespace velmocair::cli
