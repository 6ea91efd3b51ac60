#pragma once

#include <chrono>
#include <set>
#include <string>
#include <utility>

#include "cli/scan/bus_scanner.h"

namespace velmocair::cli {

// How a scan is shown. On standard output, as it goes:
//   "found unit N at 19200 8E1: a unit of this type, ..., response 12 ms"
//   "bytes at 19200 8E1 but no valid frame (unit addresses 3, 7): ..."
//   "unit N at 9600 8N1 answered only after its time-out: ..."
// and at the end a count, then per unit of this type the site-file entry
// and the command line that poll it. With `json`, one JSON object per unit
// found on standard output instead, the rest on standard error. On a
// terminal a progress bar shows on standard error.
class ScanReport : public ScanListener {
 public:
  ScanReport(bool json, std::size_t settings);
  ~ScanReport() override;

  void probed(std::size_t done, std::size_t total, std::chrono::milliseconds left) override;
  void found(const FoundUnit& unit) override;
  void garbled(const sitehost::BusAddress& bus, const std::vector<int>& unit_ids) override;
  void late(const sitehost::BusAddress& bus, int unit_id) override;

  // The count of what was found (`complete`: all that was planned was
  // probed) and, without `json`, how to poll each unit of this type.
  void finish(const std::vector<FoundUnit>& units, std::chrono::steady_clock::duration took,
              bool complete);

  // A line of the scan's findings: on standard output, or in JSON mode on
  // standard error; the progress bar is cleared first.
  void say(const std::string& line);

 private:
  void clear_progress();

  bool json_;
  std::size_t settings_;
  bool progress_;  // standard error is a terminal
  bool progress_shown_ = false;
  std::size_t units_found_ = 0;
  std::chrono::steady_clock::time_point progress_at_;
  std::set<std::pair<std::string, int>> late_told_;  // (settings, unit address)
};

// Where a unit answered: "19200 8E1" on a serial line, "tcp HOST:PORT".
std::string where_text(const sitehost::BusAddress& bus);

}  // namespace velmocair::cli
