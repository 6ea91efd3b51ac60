#ifndef SITE_FRAMEWORK_DEVICE_INTERFACE_H
#define SITE_FRAMEWORK_DEVICE_INTERFACE_H

#include <stdexcept>
#include <string>

// Root interface of every device the host drives, its virtual operations in
// dispatch order. The inline ones are compiled into each plug-in; the others
// are defined in the host's library.
class VDeviceInterface {
 public:
  virtual float Get_Value(unsigned /*id*/, const std::string& /*name*/) const {
    throw std::out_of_range("数据未就绪");
  }
  virtual bool LoadFromCache(const std::string& blob) {
    return LoadFromCache(reinterpret_cast<const unsigned char*>(blob.data()),
                         static_cast<int>(blob.size()));
  }
  virtual bool LoadFromCache(const unsigned char* data, int length) = 0;
  virtual unsigned DataId() const { return data_id; }
  virtual const std::string& DeviceType() const { return device_type; }
  virtual int DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                              int& out_len) = 0;
  virtual void RoundDone() = 0;
  virtual bool UseControllerDb() { return controller_db; }
  virtual ~VDeviceInterface();

 protected:
  unsigned data_id = 0;
  std::string device_type;
  bool controller_db = true;
};

#endif
