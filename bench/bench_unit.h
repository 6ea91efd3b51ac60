#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <memory>

#include "device/Velmocair.h"
#include "host/NullController.h"

// Velmocair with the snapshot time opened up, so that a benchmark can make
// the next status request rebuild the document.
class BenchDevice : public Velmocair {
 public:
  using Velmocair::status_record_time;
};

// A device bound to a host that does nothing, with a clock that moves one
// second at every reading, so that every completion is a new cycle time.
struct BenchUnit {
  static constexpr int kRepliesPerCycle = 20;

  BenchUnit() {
    device.local_clock = [this] { return now += boost::posix_time::seconds(1); };
    device.Init(host, 1, Json::Value(Json::objectValue));
  }

  std::shared_ptr<NullController> host = std::make_shared<NullController>();
  boost::posix_time::ptime now{boost::gregorian::date(2026, 1, 1)};
  BenchDevice device;
};
