#pragma once

#include "device/host_framework.h"

// Makes one Velmocair device per configured unit. Devices do not depend on
// the provider and outlive it.
class VelmocairProvider : public ORBSPDeviceProvider {
 public:
  ~VelmocairProvider() override;
  ORBSPDevice* create() const override;
};
