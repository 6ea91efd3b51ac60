#pragma once

#include <memory>

#include "device/Velmocair.h"
#include "host/NullController.h"

// A device bound to a host that does nothing.
struct BenchUnit {
  static constexpr int kRepliesPerCycle = 20;

  BenchUnit() { device.Init(host, 1, Json::Value(Json::objectValue)); }

  std::shared_ptr<NullController> host = std::make_shared<NullController>();
  Velmocair device;
};
