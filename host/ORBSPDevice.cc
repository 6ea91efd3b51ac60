#include "host/ORBSPDevice.h"

int ORBSPDevice::Reset() {
  processing = false;
  stalled = false;
  auto host = controller();
  return host ? host->Reset(*this) : -1;
}

int ORBSPDevice::Init(std::weak_ptr<ORBController> controller_handle, unsigned data_id_,
                      const Json::Value& setting) {
  processing = false;
  stalled = false;
  return ORBVDevice::Init(std::move(controller_handle), data_id_, setting);
}

int ORBSPDevice::RefreshStatus() {
  auto host = controller();
  return host ? host->RefreshStatus(*this) : -1;
}

bool ORBSPDevice::IsProcessing() { return processing; }

bool ORBSPDevice::IsStalled() { return stalled; }

// The Modbus master owns the line: raw frames from a device are refused.
int ORBSPDevice::SendData(const unsigned char* /*data*/, unsigned /*length*/) { return -1; }

int ORBSPDevice::SendParityData(const unsigned char* /*data*/, unsigned /*length*/,
                                EnumParity /*parity*/) {
  return -1;
}

int ORBSPDevice::OpenPort() {
  auto host = controller();
  return host ? host->OpenPort(*this) : -1;
}

int ORBSPDevice::ClosePort() {
  processing = false;
  return 0;
}
