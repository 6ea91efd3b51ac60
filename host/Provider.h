#pragma once

class ORBSPDevice;

// Root of every provider a plug-in hands out through get_providers().
class Provider {
 public:
  Provider() = default;
  Provider(const Provider&) = delete;
  Provider& operator=(const Provider&) = delete;
  virtual ~Provider() = default;
};

// Provider of devices that sit on a serial port. The host owns every device
// create() returns and destroys it through its virtual destructor.
class ORBSPDeviceProvider : public Provider {
 public:
  ~ORBSPDeviceProvider() override = default;
  virtual ORBSPDevice* create() const = 0;
};
