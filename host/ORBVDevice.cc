#include "host/ORBVDevice.h"

#include <stdexcept>

ORBVDevice::~ORBVDevice() = default;

int ORBVDevice::DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                                int& out_len) {
  auto host = controller();
  return host ? host->DeviceIoControl(*this, code, in, in_len, out, out_cap, out_len) : -1;
}

int ORBVDevice::Reset() { return 0; }

int ORBVDevice::InitV(ORBVDevice* parent, unsigned data_id_, const Json::Value& setting) {
  parent_ = parent;
  if (parent != nullptr) {
    controller_ = parent->controller_;
  }
  data_id = data_id_;
  return InitSetting(setting);
}

int ORBVDevice::Init(std::weak_ptr<ORBController> controller_handle, unsigned data_id_,
                     const Json::Value& setting) {
  controller_ = std::move(controller_handle);
  data_id = data_id_;
  return InitSetting(setting);
}

int ORBVDevice::InitSetting(const Json::Value& /*setting*/) { return 0; }

bool ORBVDevice::IsSupportDevice(const std::string& type) const { return type == device_type; }

int ORBVDevice::SendSP(int publication_id, const unsigned char* data, unsigned length, bool flag) {
  auto host = controller();
  return host ? host->SendSP(*this, publication_id, data, length, flag) : -1;
}

// Delayed sends, digital outputs and direct I/O channels belong to devices
// wired to the host's own I/O; this host has none.
int ORBVDevice::SendDelayData(int /*delay*/) { return -1; }
int ORBVDevice::SendDoData(int /*channel*/, char /*value*/) { return -1; }
int ORBVDevice::ReadDi(int /*channel*/) { return -1; }
int ORBVDevice::ReadAi(int /*channel*/) { return -1; }

double ORBVDevice::Get_SP_Value(unsigned /*id*/, const std::string& /*name*/) {
  throw std::out_of_range("不支持变量");
}

int ORBVDevice::RefreshStatus() { return 0; }

int ORBVDevice::SaveDeviceHistory(const unsigned char* data, unsigned length) {
  auto host = controller();
  return host ? host->SaveDeviceHistory(*this, data, length) : -1;
}

bool ORBVDevice::CheckThresholdBool(int type, const std::string& signal_id,
                                    const std::string& sub_id, const std::string& name,
                                    const std::string& text, bool state, unsigned short index) {
  auto host = controller();
  return host && host->CheckThresholdBool(*this, type, signal_id, sub_id, name, text, state, index);
}

bool ORBVDevice::CheckAOReport(const std::string& key, float value) {
  auto host = controller();
  return host && host->CheckAOReport(*this, key, value);
}

bool ORBVDevice::CheckThreshold(const std::string& key, const std::string& sub_key,
                                const float& value, int kind) {
  auto host = controller();
  return host && host->CheckThreshold(*this, key, sub_key, value, kind);
}

bool ORBVDevice::DoBatchCheckThreshold(std::vector<rule_value>& rules) {
  auto host = controller();
  return host && host->DoBatchCheckThreshold(*this, rules);
}
