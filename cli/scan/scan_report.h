#pragma once

#include <json/value.h>

#include <chrono>
#include <string>
#include <utility>

#include "cli/scan/bus_scanner.h"

namespace velmocair::cli {

// How a scan is shown. On standard output, as it goes:
//   "found unit N at 19200 8E1: a unit of this type, ..., response 12 ms"
//   "bytes at 19200 8E1 but no valid frame (unit addresses 3, 7): ..."
//   "unit N at 9600 8N1 answered after its time-out, within 800 ms, ..."
// and at the end a count, then per unit of this type the site-file entry
// and the command line that poll it. With `json`, one JSON object per unit
// found and per finding of garble or a late unit on standard output instead
// ("finding": "unit", "garble", "late"), the rest on standard error. On a
// terminal a progress line, never wider than the terminal, shows on
// standard error.
class ScanReport : public ScanListener {
 public:
  ScanReport(bool json, std::size_t settings);
  ~ScanReport() override;

  void probed(std::size_t done, std::size_t total, std::chrono::milliseconds left) override;
  void found(const FoundUnit& unit) override;
  void garbled(const sitehost::BusAddress& bus, const std::vector<int>& unit_ids) override;
  void late(const sitehost::BusAddress& bus, int unit_id,
            std::chrono::milliseconds within) override;

  // The count of what was found (`complete`: all that was planned was
  // probed) and, without `json`, how to poll each unit of this type.
  void finish(const std::vector<FoundUnit>& units, std::chrono::steady_clock::duration took,
              bool complete);

  // A line of the scan's findings: on standard output, or in JSON mode on
  // standard error; the progress bar is cleared first.
  void say(const std::string& line);

 private:
  void clear_progress();
  // A finding in JSON mode: one object on standard output.
  void print_json(const Json::Value& object);

  bool json_;
  std::size_t settings_;
  bool progress_;  // standard error is a terminal
  bool progress_shown_ = false;
  std::size_t units_found_ = 0;
  std::chrono::steady_clock::time_point progress_at_;
};

// Where a unit answered: "19200 8E1" on a serial line, "tcp HOST:PORT".
std::string where_text(const sitehost::BusAddress& bus);

}  // namespace velmocair::cli
