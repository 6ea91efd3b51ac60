#include "commands/control_commands.h"
#include "device/Velmocair.h"

// Dispatch on the exact code: the status document, the numeric and JSON
// control commands, and the result query for every other code.
int Velmocair::DeviceIoControl(int code, const void* in, int in_len, void* out, int out_cap,
                               int& out_len) {
  if (code == velmocair::kStatusTextCode) {
    return ReadStatusText(out, out_cap, out_len);
  }
  if (code == velmocair::kStatusReferenceCode) {
    return ReadStatusReference(out, out_cap, out_len);
  }
  const IoRequest io{code, in, in_len, out, out_cap, out_len};
  if (const velmocair::NumericCommand* command = velmocair::find_numeric_command(code)) {
    return RunNumericCommand(*command, io);
  }
  if (code == velmocair::kJsonSwitchCode || code == velmocair::kJsonSetPointCode) {
    return RunJsonCommand(io);
  }
  return QueryWriteResult(io);
}

int Velmocair::PassToHost(const IoRequest& io) {
  return ORBVDevice::DeviceIoControl(io.code, io.in, io.in_len, io.out, io.out_cap, io.out_len);
}
