#include "device/Velmocair.h"

#include <cstdint>
#include <stdexcept>

namespace {

// Data older than this many seconds is reported as timed out.
constexpr std::int64_t kFreshSeconds = 60;

}  // namespace

Velmocair::Velmocair() {
  device_type = "velmocair";
  modbus_preset_int = 9600;
  modbus_preset_byte = 1;
}

Velmocair::~Velmocair() = default;

Velmocair::SettingResult Velmocair::InitSetting(const Json::Value& setting) {
  store_data_id();
  return VelmocairDataDevice::InitSetting(setting);
}

// This device offers no values by name: the answer only says whether its
// data is missing, fresh or stale.
Velmocair::ValueResult Velmocair::Get_Value(unsigned /*id*/, const std::string& /*name*/) const {
  if (!data_ready) {
    throw std::out_of_range("数据未就绪");
  }
  const boost::posix_time::time_duration age = local_clock() - last_round_time;
  if (age.is_special() || static_cast<std::int64_t>(age.total_seconds()) > kFreshSeconds) {
    throw std::out_of_range("数据已超时");
  }
  throw std::out_of_range("不支持变量");
}
