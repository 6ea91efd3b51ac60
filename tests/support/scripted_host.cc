#include "tests/support/scripted_host.h"

#include <gtest/gtest.h>
#include <json/reader.h>

int ScriptedHost::DeviceIoControl(ORBVDevice&, int, const void*, int, void* out, int out_cap,
                                  int& out_len) {
  if (device_io_output) {
    device_io_output(out, out_cap, out_len);
  }
  return device_io_result;
}

bool ScriptedHost::CheckThresholdBool(ORBVDevice& device, int, const std::string&,
                                      const std::string&, const std::string&,
                                      const std::string& text, bool state, unsigned short index) {
  if (on_check_bool) {
    on_check_bool(device, text, state, index);
  }
  return false;
}

TestHost::TestHost()
    : controller(std::make_shared<TracingController>(
          script, [this](const Json::Value& call) { calls.push_back(call); })) {}

std::vector<Json::Value> TestHost::calls_named(const std::string& name) const {
  std::vector<Json::Value> found;
  for (const Json::Value& call : calls) {
    if (call["call"].asString() == name) {
      found.push_back(call);
    }
  }
  return found;
}

std::vector<std::string> TestHost::call_names() const {
  std::vector<std::string> names;
  for (const Json::Value& call : calls) {
    names.push_back(call["call"].asString());
  }
  return names;
}

Json::Value parse_json(const std::string& text) {
  Json::Value value;
  Json::Reader reader;
  EXPECT_TRUE(reader.parse(text, value)) << text;
  return value;
}
