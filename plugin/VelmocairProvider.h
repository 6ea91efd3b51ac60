#pragma once

#include "device/host_framework.h"
#include "device/host_result.h"

// Makes one Velmocair device per configured unit. Devices do not depend on
// the provider and outlive it.
class VelmocairProvider : public ORBSPDeviceProvider {
 public:
  // The device pointer type the host framework declares for create().
  using DevicePointer = velmocair::host_result<&ORBSPDeviceProvider::create>;

  ~VelmocairProvider() override;
  DevicePointer create() const override;
};
