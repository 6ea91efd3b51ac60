#ifndef SITE_FRAMEWORK_SERIAL_PORT_DEVICE_H
#define SITE_FRAMEWORK_SERIAL_PORT_DEVICE_H

#include "site_framework/virtual_device.h"

enum class EnumParity : char { none = 'N', odd = 'O', even = 'E' };

// Base of a device on a serial port: the port and its exchange state.
class ORBSPDevice : public ORBVDevice {
 public:
  bool Reset() override;
  bool Init(std::weak_ptr<ORBController> controller, unsigned data_id,
            const Json::Value& setting) override;
  long RefreshStatus() override;

  virtual long process(unsigned char* data, unsigned length);
  virtual bool IsProcessing();
  virtual bool IsStalled();
  virtual long SendData(const unsigned char* data, unsigned length);
  virtual long SendParityData(const unsigned char* data, unsigned length, EnumParity parity);
  virtual bool OpenPort();
  virtual bool ClosePort();
};

#endif
