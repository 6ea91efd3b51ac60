#ifndef SITE_FRAMEWORK_VIRTUAL_DEVICE_H
#define SITE_FRAMEWORK_VIRTUAL_DEVICE_H

#include <json/value.h>

#include <boost/date_time/posix_time/ptime.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "site_framework/device_interface.h"

class ORBController;

// One result of the host's threshold rules, queued while a device reports.
struct rule_value {
  std::string rule_key;
  double level = 0;
  bool raised = false;
};

// Base of every virtual device: configuration, publishing, history and
// threshold checks, all carried out by the host.
class ORBVDevice : public VDeviceInterface {
 public:
  ORBVDevice();
  int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                      int& out_len) override;
  ~ORBVDevice() override;

  virtual bool Reset();
  virtual bool InitV(ORBVDevice* parent, unsigned data_id, const Json::Value& setting);
  virtual bool Init(std::weak_ptr<ORBController> controller, unsigned data_id,
                    const Json::Value& setting);
  virtual bool InitSetting(const Json::Value& setting);
  virtual bool IsSupportDevice(const std::string& type) const;
  virtual std::shared_ptr<ORBVDevice> GetChildVDevice(unsigned /*index*/) { return nullptr; }
  virtual std::vector<std::shared_ptr<ORBVDevice>> GetAllChildVDevices() {
    return std::vector<std::shared_ptr<ORBVDevice>>();
  }
  virtual bool SendSP(int publication_id, const unsigned char* data, unsigned int length,
                      bool flag);
  virtual bool SendDelayData(int delay);
  virtual bool SendDoData(int channel, char value);
  virtual bool ReadDi(int channel);
  virtual float ReadAi(int channel);
  virtual float Get_SP_Value(unsigned id, const std::string& name);
  virtual long RefreshStatus();

  bool SaveDeviceHistory(const unsigned char* data, unsigned int length);
  int CheckThresholdBool(int type, const std::string& signal_id, const std::string& sub_id,
                         const std::string& name, const std::string& text, bool state,
                         unsigned short index);
  bool CheckAOReport(const std::string& key, float value);
  int CheckThreshold(const std::string& key, const std::string& sub_key, const float& value,
                     int kind);
  bool DoBatchCheckThreshold(const std::vector<rule_value>& rules);

 protected:
  std::uint16_t alarm_seq = 0;
  boost::posix_time::ptime last_round_time;
  bool data_ready = false;
  std::vector<rule_value> pending_rules;
  bool report_flag = false;
  std::vector<std::string> analog_keys;
  std::map<std::string, float> analog_values;
};

#endif
