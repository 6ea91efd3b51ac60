#ifndef SITE_FRAMEWORK_DEVICE_PROVIDERS_H
#define SITE_FRAMEWORK_DEVICE_PROVIDERS_H

#include "site_framework/device_interface.h"

// Root of the providers a plug-in hands out.
class Provider {
 public:
  Provider() {}
  virtual ~Provider() {}
};

// Provider of devices on a serial port; the host owns each device it creates.
class ORBSPDeviceProvider : public Provider {
 public:
  ~ORBSPDeviceProvider() override {}
  virtual VDeviceInterface* create() const = 0;
};

#endif
