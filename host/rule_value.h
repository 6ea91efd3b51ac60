#pragma once

#include <string>

// One threshold result queued by the host's threshold service while a device
// reports its checks; the device hands the collected results back through
// DoBatchCheckThreshold.
struct rule_value {
  int type = 0;              // kind of check, as passed by the device (2: boolean alarm)
  std::string signal_id;     // signal the check belongs to
  std::string text;          // alarm text shown to people
  bool active = false;       // state after the change: raised (true) or cleared (false)
  unsigned short index = 0;  // running index the device gave the check
};
