#pragma once

#include "host/ORBController.h"

// A host that accepts every call and does nothing: no line, no publisher, no
// rules. Benchmarks and fuzz targets use it to see the device's own cost and
// behaviour alone.
class NullController : public ORBController {
 public:
  int modbus_read_bits(SPModbus&, int, int) override { return 0; }
  int modbus_read_registers(SPModbus&, int, int) override { return 0; }
  int modbus_write_register(SPModbus&, int, int) override { return 0; }
  int InitSetting(SPModbus&, const Json::Value&) override { return 0; }
  int RefreshStatus(ORBSPDevice&) override { return 0; }
  int OpenPort(ORBSPDevice&) override { return 0; }
  int Reset(ORBSPDevice&) override { return 0; }
  int DeviceIoControl(ORBVDevice&, int, const void*, int, void*, int, int&) override { return 0; }
  int SendSP(ORBVDevice&, int, const unsigned char*, unsigned, bool) override { return 0; }
  int SaveDeviceHistory(ORBVDevice&, const unsigned char*, unsigned) override { return 0; }
  bool CheckThresholdBool(ORBVDevice&, int, const std::string&, const std::string&,
                          const std::string&, const std::string&, bool, unsigned short) override {
    return false;
  }
  bool CheckAOReport(ORBVDevice&, const std::string&, float) override { return false; }
  bool CheckThreshold(ORBVDevice&, const std::string&, const std::string&, const float&,
                      int) override {
    return false;
  }
  bool DoBatchCheckThreshold(ORBVDevice&, std::vector<rule_value>&) override { return false; }
};
