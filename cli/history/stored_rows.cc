#include "cli/history/stored_rows.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/history/decoder_check.h"
#include "cli/history/history_reading.h"
#include "cli/options/exit_status.h"
#include "cli/runtime/interrupt.h"
#include "cli/runtime/printing.h"

namespace velmocair::cli {
namespace {

// "; its units: 1, 2" or "; it has no rows".
std::string units_text(const std::vector<std::uint32_t>& data_ids) {
  if (data_ids.empty()) {
    return "it has no rows";
  }
  std::string text = data_ids.size() == 1 ? "its unit: " : "its units: ";
  for (std::size_t i = 0; i < data_ids.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(data_ids[i]);
  }
  return text;
}

}  // namespace

StoredRows::StoredRows(const HostOptions& options, Decoding decoding)
    : path_(options.history),
      store_(open_history_to_read(options.history)),
      plugin_(options.plugin),
      through_plugin_(decoding == Decoding::plugin) {
  std::string error;
  if (options.units.data_id) {
    const std::vector<std::uint32_t> data_ids = store_->data_ids(error);
    if (!error.empty()) {
      throw RunError(path_ + ": " + error);
    }
    if (std::find(data_ids.begin(), data_ids.end(), *options.units.data_id) == data_ids.end()) {
      throw RunError(path_ + ": no rows of data id " + std::to_string(*options.units.data_id) +
                     " (" + units_text(data_ids) + ")");
    }
  }
  cursor_ = store_->query(row_filter(options), error);
  if (cursor_ == nullptr) {
    throw RunError(path_ + ": " + error);
  }
  has_first_ = advance();
  if (through_plugin_) {
    return;
  }
  std::vector<status::RecordBytes> first;
  if (has_first_ && row().record_size == sizeof(status::RecordBytes)) {
    first.emplace_back();
    std::memcpy(first.back().data(), row().record, row().record_size);
  }
  const std::string disagreement = decoding_disagreement(cells_, plugin_decoding(plugin_), first);
  if (!disagreement.empty()) {
    print_error(
        "warning: the plug-in decodes stored records otherwise than the history's decoder (" +
        disagreement + "): every row goes through the plug-in, which is slower");
    through_plugin_ = true;
  }
}

bool StoredRows::next() {
  if (has_first_) {
    has_first_ = false;
    return true;
  }
  return advance();
}

bool StoredRows::advance() {
  if (interrupted()) {
    throw Interrupted();
  }
  if (cursor_->next()) {
    return true;
  }
  if (!cursor_->error().empty()) {
    throw RunError(path_ + ": " + cursor_->error());
  }
  return false;
}

}  // namespace velmocair::cli
