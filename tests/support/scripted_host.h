#pragma once

#include <json/value.h>
#include <json/writer.h>  // prints values in failure messages

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/ORBController.h"
#include "host/TracingController.h"

// A host whose every result is scripted by the test. Calls are recorded by
// the TracingController in front of it (see TestHost).
class ScriptedHost : public ORBController {
 public:
  int init_setting_result = 0;
  int device_io_result = 0;
  // Fills the base DeviceIoControl's output, if set.
  std::function<void(void* out, int out_cap, int& out_len)> device_io_output;
  // Result of CheckAOReport by key; false for keys not listed.
  std::function<bool(const std::string& key)> ao_report_result;
  bool batch_result = false;
  // Runs inside CheckThresholdBool: may queue rules or throw.
  std::function<void(ORBVDevice& device, const std::string& text, bool state, unsigned short index)>
      on_check_bool;

  int modbus_read_bits(SPModbus&, int, int) override { return 0; }
  int modbus_read_registers(SPModbus&, int, int) override { return 0; }
  int modbus_write_register(SPModbus&, int, int) override { return 0; }
  int InitSetting(SPModbus&, const Json::Value&) override { return init_setting_result; }
  int RefreshStatus(ORBSPDevice&) override { return 0; }
  int OpenPort(ORBSPDevice&) override { return 0; }
  int Reset(ORBSPDevice&) override { return 0; }
  int DeviceIoControl(ORBVDevice&, int, const void*, int, void* out, int out_cap,
                      int& out_len) override;
  int SendSP(ORBVDevice&, int, const unsigned char*, unsigned, bool) override { return 0; }
  int SaveDeviceHistory(ORBVDevice&, const unsigned char*, unsigned) override { return 0; }
  bool CheckThresholdBool(ORBVDevice& device, int, const std::string&, const std::string&,
                          const std::string&, const std::string& text, bool state,
                          unsigned short index) override;
  bool CheckAOReport(ORBVDevice&, const std::string& key, float) override {
    return ao_report_result && ao_report_result(key);
  }
  bool CheckThreshold(ORBVDevice&, const std::string&, const std::string&, const float&,
                      int) override {
    return false;
  }
  bool DoBatchCheckThreshold(ORBVDevice&, std::vector<rule_value>&) override {
    return batch_result;
  }
};

// The scripted host behind a tracing controller that records every call.
struct TestHost {
  TestHost();

  // Calls recorded so far, each {"call", "device", "args", "result"}.
  std::vector<Json::Value> calls;
  std::shared_ptr<ScriptedHost> script = std::make_shared<ScriptedHost>();
  std::shared_ptr<TracingController> controller;

  std::vector<Json::Value> calls_named(const std::string& name) const;
  std::vector<std::string> call_names() const;
};

// The JSON value of `text`; a test fails when the text does not parse.
Json::Value parse_json(const std::string& text);

// Builds a JSON array from its arguments, to compare with a call's "args".
template <class... Items>
Json::Value args(const Items&... items) {
  Json::Value array(Json::arrayValue);
  (array.append(Json::Value(items)), ...);
  return array;
}
