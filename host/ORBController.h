#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "host/rule_value.h"

class ORBVDevice;
class ORBSPDevice;
class SPModbus;

// The host's service object. Every host operation a device calls on its base
// classes is forwarded here, with the device it came from, so that one host
// can put a real Modbus master, publisher, history store and threshold
// service behind the same calls that a test host records and scripts.
class ORBController {
 public:
  ORBController() = default;
  ORBController(const ORBController&) = delete;
  ORBController& operator=(const ORBController&) = delete;
  virtual ~ORBController() = default;

  // Modbus master. A read or write only leaves one outstanding request on the
  // device (SPModbus::pending_request); the host carries it out later and
  // delivers the reply through SPModbus::process.
  virtual int modbus_read_bits(SPModbus& device, int first, int count) = 0;
  virtual int modbus_read_registers(SPModbus& device, int first, int count) = 0;
  virtual int modbus_write_register(SPModbus& device, int reg, int value) = 0;
  // The device's configuration after SPModbus has read its own keys.
  virtual int InitSetting(SPModbus& device, const Json::Value& setting) = 0;

  // Serial-port exchange state.
  virtual int RefreshStatus(ORBSPDevice& device) = 0;
  virtual int OpenPort(ORBSPDevice& device) = 0;
  virtual int Reset(ORBSPDevice& device) = 0;

  // Virtual-device services.
  virtual int DeviceIoControl(ORBVDevice& device, int code, const void* in, int in_len, void* out,
                              int out_cap, int& out_len) = 0;
  virtual int SendSP(ORBVDevice& device, int publication_id, const unsigned char* data,
                     unsigned length, bool flag) = 0;
  virtual int SaveDeviceHistory(ORBVDevice& device, const unsigned char* data, unsigned length) = 0;
  // May queue a rule_value into device.pending_rules.
  virtual bool CheckThresholdBool(ORBVDevice& device, int type, const std::string& signal_id,
                                  const std::string& sub_id, const std::string& name,
                                  const std::string& text, bool state, unsigned short index) = 0;
  virtual bool CheckAOReport(ORBVDevice& device, const std::string& key, float value) = 0;
  virtual bool CheckThreshold(ORBVDevice& device, const std::string& key,
                              const std::string& sub_key, const float& value, int kind) = 0;
  virtual bool DoBatchCheckThreshold(ORBVDevice& device, std::vector<rule_value>& rules) = 0;
};
