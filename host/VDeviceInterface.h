#pragma once

#include <climits>
#include <cstdint>
#include <stdexcept>
#include <string>

// Root interface of every device the host drives. The virtual operations are
// declared in the host's dispatch order; a class further down the chain adds
// its own after these. The inline operations are compiled into each plug-in.
class VDeviceInterface {
 public:
  VDeviceInterface() = default;
  VDeviceInterface(const VDeviceInterface&) = delete;
  VDeviceInterface& operator=(const VDeviceInterface&) = delete;

  // Value of one variable by id and name; this interface supports none.
  virtual double Get_Value(unsigned /*id*/, const std::string& /*name*/) const {
    throw std::out_of_range("数据未就绪");
  }
  // A stored record handed back by the host's cache; a blob longer than an
  // int can count is never a record.
  virtual bool LoadFromCache(const std::string& blob) {
    if (blob.size() > static_cast<std::size_t>(INT_MAX)) {
      return false;
    }
    return LoadFromCache(reinterpret_cast<const unsigned char*>(blob.data()),
                         static_cast<int>(blob.size()));
  }
  virtual bool LoadFromCache(const unsigned char* /*data*/, int /*length*/) { return false; }
  virtual std::uint32_t DataId() const { return data_id; }
  virtual const std::string& DeviceType() const { return device_type; }
  virtual int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                              int& out_len) = 0;
  virtual void RoundDone() {}
  virtual bool UseControllerDb() { return controller_db; }
  virtual ~VDeviceInterface() = default;

  std::uint32_t data_id = 0;  // assigned by the host before InitSetting
  std::string device_type;    // device-type name, set by the device's constructor
  bool controller_db = false;
};
