#pragma once

#include "host/EnumParity.h"
#include "host/ORBVDevice.h"

// Host base of a device on a serial port: the exchange state of its line.
// An exchange is "processing" from the request until its reply has been
// handled, the host abandons it, or Reset() ends it.
class ORBSPDevice : public ORBVDevice {
 public:
  int Reset() override;
  int Init(std::weak_ptr<ORBController> controller, unsigned data_id,
           const Json::Value& setting) override;
  int RefreshStatus() override;

  // Operations this class adds, in the host's dispatch order.
  virtual int process(unsigned char* data, unsigned length) = 0;
  virtual bool IsProcessing();
  virtual bool IsStalled();
  virtual int SendData(const unsigned char* data, unsigned length);
  virtual int SendParityData(const unsigned char* data, unsigned length, EnumParity parity);
  virtual int OpenPort();
  virtual int ClosePort();

 protected:
  ORBSPDevice() = default;

  bool processing = false;  // a request is outstanding
  bool stalled = false;     // the last exchange was abandoned without a reply
};
