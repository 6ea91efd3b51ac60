#include "host/TracingController.h"

#include <exception>

#include "host/SPModbus.h"

namespace {

Json::Value array_of(std::initializer_list<Json::Value> items) {
  Json::Value array(Json::arrayValue);
  for (const Json::Value& item : items) {
    array.append(item);
  }
  return array;
}

Json::Value rules_to_json(const std::vector<rule_value>& rules) {
  Json::Value array(Json::arrayValue);
  for (const rule_value& rule : rules) {
    Json::Value entry(Json::objectValue);
    entry["type"] = rule.type;
    entry["signal_id"] = rule.signal_id;
    entry["text"] = rule.text;
    entry["active"] = rule.active;
    entry["index"] = rule.index;
    array.append(entry);
  }
  return array;
}

}  // namespace

std::string to_hex(const void* data, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  if (data == nullptr) {
    return text;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  text.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[bytes[i] >> 4]);
    text.push_back(kDigits[bytes[i] & 0x0F]);
  }
  return text;
}

TracingController::TracingController(std::shared_ptr<ORBController> inner, Sink sink)
    : inner_(std::move(inner)), sink_(std::move(sink)) {}

template <class Call>
auto TracingController::traced(const char* name, const VDeviceInterface& device, Json::Value args,
                               Call&& call) -> decltype(call()) {
  Json::Value record(Json::objectValue);
  record["call"] = name;
  record["device"] = Json::Int64{device.data_id};
  record["args"] = std::move(args);
  try {
    auto result = call();
    record["result"] = result;
    sink_(record);
    return result;
  } catch (const std::exception& error) {
    record["exception"] = error.what();
    sink_(record);
    throw;
  }
}

int TracingController::modbus_read_bits(SPModbus& device, int first, int count) {
  return traced("modbus_read_bits", device, array_of({first, count}),
                [&] { return inner_->modbus_read_bits(device, first, count); });
}

int TracingController::modbus_read_registers(SPModbus& device, int first, int count) {
  return traced("modbus_read_registers", device, array_of({first, count}),
                [&] { return inner_->modbus_read_registers(device, first, count); });
}

int TracingController::modbus_write_register(SPModbus& device, int reg, int value) {
  return traced("modbus_write_register", device, array_of({reg, value}),
                [&] { return inner_->modbus_write_register(device, reg, value); });
}

int TracingController::InitSetting(SPModbus& device, const Json::Value& setting) {
  return traced("InitSetting", device, array_of({setting}),
                [&] { return inner_->InitSetting(device, setting); });
}

int TracingController::RefreshStatus(ORBSPDevice& device) {
  return traced("RefreshStatus", device, Json::Value(Json::arrayValue),
                [&] { return inner_->RefreshStatus(device); });
}

int TracingController::OpenPort(ORBSPDevice& device) {
  return traced("OpenPort", device, Json::Value(Json::arrayValue),
                [&] { return inner_->OpenPort(device); });
}

int TracingController::Reset(ORBSPDevice& device) {
  return traced("Reset", device, Json::Value(Json::arrayValue),
                [&] { return inner_->Reset(device); });
}

int TracingController::DeviceIoControl(ORBVDevice& device, int code, const void* in, int in_len,
                                       void* out, int out_cap, int& out_len) {
  const std::size_t in_bytes = in_len > 0 ? static_cast<std::size_t>(in_len) : 0;
  return traced(
      "DeviceIoControl", device, array_of({code, to_hex(in, in_bytes), in_len, out_cap, out_len}),
      [&] { return inner_->DeviceIoControl(device, code, in, in_len, out, out_cap, out_len); });
}

int TracingController::SendSP(ORBVDevice& device, int publication_id, const unsigned char* data,
                              unsigned length, bool flag) {
  return traced("SendSP", device,
                array_of({publication_id, to_hex(data, length), Json::Int64{length}, flag}),
                [&] { return inner_->SendSP(device, publication_id, data, length, flag); });
}

int TracingController::SaveDeviceHistory(ORBVDevice& device, const unsigned char* data,
                                         unsigned length) {
  return traced("SaveDeviceHistory", device, array_of({to_hex(data, length), Json::Int64{length}}),
                [&] { return inner_->SaveDeviceHistory(device, data, length); });
}

bool TracingController::CheckThresholdBool(ORBVDevice& device, int type,
                                           const std::string& signal_id, const std::string& sub_id,
                                           const std::string& name, const std::string& text,
                                           bool state, unsigned short index) {
  return traced("CheckThresholdBool", device,
                array_of({type, signal_id, sub_id, name, text, state, index}), [&] {
                  return inner_->CheckThresholdBool(device, type, signal_id, sub_id, name, text,
                                                    state, index);
                });
}

bool TracingController::CheckAOReport(ORBVDevice& device, const std::string& key, float value) {
  return traced("CheckAOReport", device, array_of({key, value}),
                [&] { return inner_->CheckAOReport(device, key, value); });
}

bool TracingController::CheckThreshold(ORBVDevice& device, const std::string& key,
                                       const std::string& sub_key, const float& value, int kind) {
  return traced("CheckThreshold", device, array_of({key, sub_key, value, kind}),
                [&] { return inner_->CheckThreshold(device, key, sub_key, value, kind); });
}

bool TracingController::DoBatchCheckThreshold(ORBVDevice& device, std::vector<rule_value>& rules) {
  return traced("DoBatchCheckThreshold", device, array_of({rules_to_json(rules)}),
                [&] { return inner_->DoBatchCheckThreshold(device, rules); });
}
