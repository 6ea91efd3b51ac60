#include "host/services/unit_controller.h"

#include "host/SPModbus.h"

namespace sitehost {

// The request is already recorded on the device; the bus carries it out.
int UnitController::modbus_read_bits(SPModbus& /*device*/, int /*first*/, int /*count*/) {
  return 0;
}

int UnitController::modbus_read_registers(SPModbus& /*device*/, int /*first*/, int /*count*/) {
  return 0;
}

int UnitController::modbus_write_register(SPModbus& /*device*/, int /*reg*/, int /*value*/) {
  return 0;
}

// SPModbus has resolved the keys the master needs (unit address, baud rate);
// the bus reads them from the device.
int UnitController::InitSetting(SPModbus& /*device*/, const Json::Value& /*setting*/) { return 0; }

// The bus starts a device's cycle only when its line is free, so a refresh
// is always accepted.
int UnitController::RefreshStatus(ORBSPDevice& /*device*/) { return 0; }

// The bus opens its line on first use and after it was lost.
int UnitController::OpenPort(ORBSPDevice& /*device*/) { return 0; }

int UnitController::Reset(ORBSPDevice& /*device*/) { return 0; }

// This host defines no control codes of its own: a passed-on request is
// accepted and leaves the device's output as the device wrote it.
int UnitController::DeviceIoControl(ORBVDevice& /*device*/, int /*code*/, const void* /*in*/,
                                    int /*in_len*/, void* /*out*/, int /*out_cap*/,
                                    int& /*out_len*/) {
  return 0;
}

int UnitController::SendSP(ORBVDevice& device, int publication_id, const unsigned char* data,
                           unsigned length, bool /*flag*/) {
  services_.publisher.publish(device.DataId(), publication_id, data, length);
  return 0;
}

int UnitController::SaveDeviceHistory(ORBVDevice& device, const unsigned char* data,
                                      unsigned length) {
  if (services_.history != nullptr && storing_) {
    services_.history->enqueue(device.DataId(), local_time_text(), data, length);
  }
  ++completions_;
  return 0;
}

bool UnitController::CheckThresholdBool(ORBVDevice& device, int type, const std::string& signal_id,
                                        const std::string& /*sub_id*/, const std::string& /*name*/,
                                        const std::string& text, bool state, unsigned short index) {
  return services_.thresholds.check_bool(device.DataId(), type, signal_id, text, state, index,
                                         device.pending_rules);
}

// This host keeps no analogue rules: no value is ever reported.
bool UnitController::CheckAOReport(ORBVDevice& /*device*/, const std::string& /*key*/,
                                   float /*value*/) {
  return false;
}

bool UnitController::CheckThreshold(ORBVDevice& /*device*/, const std::string& /*key*/,
                                    const std::string& /*sub_key*/, const float& /*value*/,
                                    int /*kind*/) {
  return false;
}

bool UnitController::DoBatchCheckThreshold(ORBVDevice& device, std::vector<rule_value>& rules) {
  return services_.thresholds.report(device.DataId(), rules);
}

}  // namespace sitehost
