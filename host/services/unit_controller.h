#pragma once

#include <atomic>
#include <cstdint>

#include "host/ORBController.h"
#include "host/services/history_writer.h"
#include "host/services/publisher.h"
#include "host/services/threshold_service.h"

namespace sitehost {

// The shared services a unit's controller hands its calls to.
struct HostServices {
  Publisher& publisher;
  ThresholdService& thresholds;
  HistoryWriter* history;  // null: no history is kept
};

// The host behind one unit's device. Reads and writes only leave the
// device's outstanding request: the unit's bus carries it out (BusWorker).
// Publishing, history and threshold calls go to the shared services. Called
// on the unit's bus thread, and at start on the thread that loads the cache.
class UnitController : public ORBController {
 public:
  explicit UnitController(HostServices services) : services_(services) {}

  // Completions the device stored (one SaveDeviceHistory each).
  std::uint64_t completions() const { return completions_.load(); }

  // Whether SaveDeviceHistory writes a history row (the default). Off while
  // the host hands the device a record the history already holds.
  void set_storing(bool storing) { storing_ = storing; }

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
  HostServices services_;
  std::atomic<std::uint64_t> completions_{0};
  std::atomic<bool> storing_{true};
};

}  // namespace sitehost
