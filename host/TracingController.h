#pragma once

#include <json/value.h>

#include <functional>
#include <memory>

#include "host/ORBController.h"
#include "host/VDeviceInterface.h"

// Forwards every host call to another controller and reports it, once it has
// returned, as one JSON object:
//   {"call": NAME, "device": DATA_ID, "args": [...], "result": R}
// with byte buffers as lowercase hex and every integer as a signed JSON
// integer, so that equal numbers compare equal whatever their C++ type. A call that throws is
// reported with "exception" instead of "result", and the exception propagates.
class TracingController : public ORBController {
 public:
  using Sink = std::function<void(const Json::Value& call)>;

  TracingController(std::shared_ptr<ORBController> inner, Sink sink);

  int modbus_read_bits(SPModbus& device, int first, int count) override;
  int modbus_read_registers(SPModbus& device, int first, int count) override;
  int modbus_write_register(SPModbus& device, int reg, int value) override;
  int InitSetting(SPModbus& device, const Json::Value& setting) override;
  int RefreshStatus(ORBSPDevice& device) override;
  int OpenPort(ORBSPDevice& device) override;
  int Reset(ORBSPDevice& device) override;
  int DeviceIoControl(ORBVDevice& device, int code, const void* in, int in_len, void* out,
                      int out_cap, int& out_len) override;
  int SendSP(ORBVDevice& device, int publication_id, const unsigned char* data, unsigned length,
             bool flag) override;
  int SaveDeviceHistory(ORBVDevice& device, const unsigned char* data, unsigned length) override;
  bool CheckThresholdBool(ORBVDevice& device, int type, const std::string& signal_id,
                          const std::string& sub_id, const std::string& name,
                          const std::string& text, bool state, unsigned short index) override;
  bool CheckAOReport(ORBVDevice& device, const std::string& key, float value) override;
  bool CheckThreshold(ORBVDevice& device, const std::string& key, const std::string& sub_key,
                      const float& value, int kind) override;
  bool DoBatchCheckThreshold(ORBVDevice& device, std::vector<rule_value>& rules) override;

 private:
  template <class Call>
  auto traced(const char* name, const VDeviceInterface& device, Json::Value args, Call&& call)
      -> decltype(call());

  std::shared_ptr<ORBController> inner_;
  Sink sink_;
};

// Lowercase hex of `length` bytes; empty for a null pointer.
std::string to_hex(const void* data, std::size_t length);
