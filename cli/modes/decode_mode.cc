#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cli/history/history_reading.h"
#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/status_view.h"
#include "device/Velmocair_Data_t.h"
#include "host/services/history_store.h"

namespace velmocair::cli {
namespace {

// The size of the record LoadFromCache takes: the record a cycle publishes.
constexpr std::size_t kRecordBytes = sizeof(Velmocair_Data_t);

// A record to decode and the unit it belongs to.
struct StoredRecord {
  std::vector<unsigned char> bytes;
  std::uint32_t data_id = 0;
  std::string origin;
};

// The data id in a record's 4-byte header (native byte order), or 0.
std::uint32_t header_data_id(const std::vector<unsigned char>& bytes) {
  std::uint32_t data_id = 0;
  if (bytes.size() >= sizeof data_id) {
    std::memcpy(&data_id, bytes.data(), sizeof data_id);
  }
  return data_id;
}

StoredRecord read_record_file(const HostOptions& options) {
  std::ifstream file(options.record_file, std::ios::binary);
  if (!file) {
    throw RunError(options.record_file + ": cannot read the record: " + std::strerror(errno));
  }
  StoredRecord record;
  record.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  record.data_id = options.units.data_id.value_or(header_data_id(record.bytes));
  record.origin = options.record_file;
  return record;
}

StoredRecord read_history(const HostOptions& options) {
  const auto store = open_history_to_read(options.history);
  std::string error;
  std::optional<sitehost::HistoryRow> row = store->newest(options.units.data_id, error);
  if (!error.empty()) {
    throw RunError(error);
  }
  if (!row) {
    throw RunError(options.history + ": no stored record" +
                   (options.units.data_id ? " of data id " + std::to_string(*options.units.data_id)
                                          : std::string()));
  }
  return {std::move(row->record), row->data_id,
          options.history + " row " + std::to_string(row->id) + " of " + row->time};
}

}  // namespace

int run_decode(const HostOptions& options) {
  const StoredRecord record =
      options.record_file.empty() ? read_history(options) : read_record_file(options);
  UnitConfig unit;
  unit.name = "record";
  unit.data_id = record.data_id;
  RuntimeOptions runtime_settings;
  runtime_settings.plugin_path = options.plugin;
  runtime_settings.trace_path = options.trace;
  HostRuntime runtime(runtime_settings, {unit});
  EventPrinter printer(runtime, StatusOutput::status_text);

  const bool loaded =
      runtime.device(0).LoadFromCache(record.bytes.data(), static_cast<int>(record.bytes.size()));
  printer.print_queued();
  if (!loaded) {
    const std::size_t size = record.bytes.size();
    print_error(record.origin + ": the device refused the record (" + std::to_string(size) +
                " bytes" +
                (size == kRecordBytes ? std::string()
                                      : "; " + std::to_string(kRecordBytes) + " bytes expected") +
                ")");
    return kExitFailed;
  }
  const std::string text = runtime.status_text(0);
  const std::optional<Json::Value> document = parse_status_text(text);
  if (options.view && document) {
    print_out(readable_view(record.origin + " (data id " + std::to_string(record.data_id) + ")",
                            *document, runtime.active_alarm_points(0), ""));
  } else {
    print_out(text.empty() || text.back() == '\n' ? text : text + "\n");
  }
  return document ? kExitOk : kExitFailed;
}

std::string decode_help() {
  return "usage: velmocair-host decode FILE [OPTIONS]\n"
         "       velmocair-host decode --history FILE [--data-id N] [OPTIONS]\n\n"
         "Loads a stored " +
         std::to_string(kRecordBytes) +
         "-byte record (a file, or the newest row of a history file)\n"
         "through the device's LoadFromCache and prints its status text (--view: the\n"
         "readable view). The document's update time is the time of decoding; the\n"
         "view's heading names the stored row and its time.\n";
}

}  // namespace velmocair::cli
