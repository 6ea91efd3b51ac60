#pragma once

#include <json/value.h>

#include <boost/date_time/posix_time/ptime.hpp>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/ORBController.h"
#include "host/VDeviceInterface.h"
#include "host/rule_value.h"

// Host base of every virtual device: configuration, publishing, history and
// threshold checks. Its operations forward to the ORBController given to
// Init; before Init (or once the controller is gone) they do nothing and
// report failure (-1 or false).
class ORBVDevice : public VDeviceInterface {
 public:
  int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                      int& out_len) override;
  ~ORBVDevice() override;

  // Operations this class adds, in the host's dispatch order.
  virtual int Reset();
  virtual int InitV(ORBVDevice* parent, unsigned data_id, const Json::Value& setting);
  virtual int Init(std::weak_ptr<ORBController> controller, unsigned data_id,
                   const Json::Value& setting);
  virtual int InitSetting(const Json::Value& setting);
  virtual bool IsSupportDevice(const std::string& type) const;
  virtual std::shared_ptr<VDeviceInterface> GetChildVDevice(unsigned /*index*/) { return {}; }
  virtual std::vector<std::shared_ptr<VDeviceInterface>> GetAllChildVDevices() { return {}; }
  virtual int SendSP(int publication_id, const unsigned char* data, unsigned length, bool flag);
  virtual int SendDelayData(int delay);
  virtual int SendDoData(int channel, char value);
  virtual int ReadDi(int channel);
  virtual int ReadAi(int channel);
  virtual double Get_SP_Value(unsigned id, const std::string& name);
  virtual int RefreshStatus();

  // Non-virtual host services.
  int SaveDeviceHistory(const unsigned char* data, unsigned length);
  bool CheckThresholdBool(int type, const std::string& signal_id, const std::string& sub_id,
                          const std::string& name, const std::string& text, bool state,
                          unsigned short index);
  bool CheckAOReport(const std::string& key, float value);
  bool CheckThreshold(const std::string& key, const std::string& sub_key, const float& value,
                      int kind);
  bool DoBatchCheckThreshold(std::vector<rule_value>& rules);

  // Parent given to InitV; null for a device on its own.
  ORBVDevice* parent_device() const { return parent_; }

  unsigned short alarm_seq = 0;
  boost::posix_time::ptime last_round_time;
  bool data_ready = false;
  std::vector<rule_value> pending_rules;
  bool report_flag = false;
  std::vector<std::string> analog_keys;
  std::map<std::string, float> analog_values;

 protected:
  ORBVDevice() = default;
  std::shared_ptr<ORBController> controller() const { return controller_.lock(); }

 private:
  std::weak_ptr<ORBController> controller_;
  ORBVDevice* parent_ = nullptr;
};
