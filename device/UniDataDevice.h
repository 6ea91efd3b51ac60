#pragma once

#include <json/value.h>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <iostream>
#include <mutex>
#include <string>
#include <type_traits>

#include "device/host_framework.h"
#include "device/host_result.h"
#include "device/record_access.h"
#include "device/saturating_int.h"

// A device whose whole state is one fixed record of type Data, filled by a
// poll cycle of Base's Modbus exchange and handed to the host under
// PublicationId once complete. Data must be a packed record with a 4-byte
// data_id header and a 7-byte time_stamp trailer.
template <class Data, class Base, int PublicationId>
class UniDataDevice : public Base {
 public:
  static constexpr unsigned kRecordSize = sizeof(Data);
  // InitSetting's result type, as the host framework declares it.
  using SettingResult = velmocair::host_result<&Base::InitSetting>;

  UniDataDevice() {
    status_doc = Json::Value();
    std::memset(&record, 0, sizeof record);
  }
  ~UniDataDevice() override = default;

  using Base::LoadFromCache;
  bool LoadFromCache(const unsigned char* data, int length) override;
  void RoundDone() override;
  SettingResult InitSetting(const Json::Value& setting) override;

  // Local time at one-second resolution; tests replace it to freeze time.
  // The second clock reads time_t, which a 32-bit build must take 64 bits
  // wide (_TIME_BITS=64) so that the clock goes on past January 2038.
  static_assert(sizeof(std::time_t) == 8, "time_t must be 64 bits wide: build with _TIME_BITS=64");
  std::function<boost::posix_time::ptime()> local_clock = [] {
    return boost::posix_time::second_clock::local_time();
  };

 protected:
  // Alarm evaluation of a completed record; a device with alarms overrides it.
  virtual void RunCheckThreshold() {}

  void store_data_id() {
    const std::uint32_t id = this->DataId();
    static_assert(sizeof record.data_id == sizeof id);
    std::memcpy(record.data_id, &id, sizeof id);
  }

  Data record;
  int mode = 1;
  boost::posix_time::ptime status_doc_time;
  std::mutex status_mutex;
  Json::Value status_doc;
  // The last completed record and its completion time, copied under
  // status_mutex so that status requests never read a record being filled.
  Data status_record{};
  boost::posix_time::ptime status_record_time;
};

template <class Data, class Base, int PublicationId>
bool UniDataDevice<Data, Base, PublicationId>::LoadFromCache(const unsigned char* data,
                                                             int length) {
  if (data == nullptr || length != static_cast<int>(kRecordSize)) {
    return false;
  }
  std::memcpy(&record, data, kRecordSize);
  this->data_ready = true;
  RoundDone();
  return true;
}

template <class Data, class Base, int PublicationId>
void UniDataDevice<Data, Base, PublicationId>::RoundDone() {
  unsigned char* const bytes = velmocair::record_bytes(record);

  this->data_ready = true;
  this->last_round_time = local_clock();
  // get_ttime gives the seven calendar bytes, in whatever type the host
  // declares for them; they are copied as they are.
  const auto stamp = get_ttime(this->last_round_time);
  static_assert(sizeof stamp == sizeof record.time_stamp, "get_ttime gives seven bytes");
  static_assert(std::is_trivially_copyable_v<decltype(stamp)>);
  std::memcpy(&record.time_stamp, &stamp, sizeof stamp);
  {
    const std::lock_guard<std::mutex> lock(status_mutex);
    status_record = record;
    status_record_time = this->last_round_time;
  }

  this->SendSP(PublicationId, bytes, kRecordSize, false);
  this->Reset();

  this->alarm_seq = 1;
  this->report_flag = false;
  RunCheckThreshold();

  static const std::string kNoSubKey;
  for (const std::string& key : this->analog_keys) {
    const auto found = this->analog_values.find(key);
    if (found == this->analog_values.end()) {
      continue;
    }
    if (this->CheckAOReport(key, found->second)) {
      this->report_flag = true;
    }
    this->CheckThreshold(key, kNoSubKey, found->second, 1);
  }

  char line[48];
  const int length =
      std::snprintf(line, sizeof line, "rvSize is %zu\n", this->pending_rules.size());
  std::cout.write(line, length).flush();

  if (this->DoBatchCheckThreshold(this->pending_rules)) {
    this->report_flag = true;
  }
  this->SaveDeviceHistory(bytes, kRecordSize);
  this->pending_rules.clear();
}

template <class Data, class Base, int PublicationId>
auto UniDataDevice<Data, Base, PublicationId>::InitSetting(const Json::Value& setting)
    -> SettingResult {
  store_data_id();
  // Const access: a missing member is read as null, never inserted. A
  // configuration, "appSetting" or "b_mode" of the wrong kind leaves mode as
  // it is rather than letting the JSON library throw.
  const Json::Value& app =
      setting.isObject() ? setting["appSetting"] : Json::Value::nullSingleton();
  if (app.isObject()) {
    const Json::Value& b_mode = app["b_mode"];
    if (!b_mode.isNull() && !b_mode.isArray() && !b_mode.isObject()) {
      mode = velmocair::saturating_int(std::atof(b_mode.asString().c_str()));
    }
  }
  return Base::InitSetting(setting);
}
