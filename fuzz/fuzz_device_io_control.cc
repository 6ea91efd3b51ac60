// Whatever a caller hands DeviceIoControl: any code's input and capacity,
// the unit's echo, and status documents of any record.
#include <json/reader.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "commands/write_acknowledgement.h"
#include "device/Velmocair.h"
#include "host/NullController.h"

namespace {

class Device : public Velmocair {
 public:
  using Velmocair::write_result;
  using Velmocair::write_value;
};

// Codes that take each branch of the dispatch.
constexpr int kCodes[] = {100, 102, 106, 110, 310, 320, 801, 803, 0, 101};
constexpr std::size_t kRecordSize = sizeof(Velmocair_Data_t);

}  // namespace

// Input: code selector (1 byte), output capacity (2, signed), then the command's
// input; with the status codes, a record to complete first when the input
// holds one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 3;
  if (size < kHeader) {
    return 0;
  }
  const int code = kCodes[data[0] % std::size(kCodes)];
  const int out_cap = static_cast<std::int16_t>(data[1] << 8 | data[2]);
  // Exactly sized heap copies, so that any read or write past them is caught.
  const std::vector<unsigned char> in(data + kHeader, data + size);
  std::vector<unsigned char> out(out_cap > 0 ? static_cast<std::size_t>(out_cap) : 0);

  const auto host = std::make_shared<NullController>();
  Device device;
  device.Init(host, 1, Json::Value(Json::objectValue));
  if ((code == 801 || code == 803) && in.size() >= kRecordSize) {
    device.LoadFromCache(in.data(), static_cast<int>(kRecordSize));
  }
  int out_len = 0;
  const int result =
      device.DeviceIoControl(code, in.empty() ? nullptr : in.data(), static_cast<int>(in.size()),
                             out.empty() ? nullptr : out.data(), out_cap, out_len);
  if (result != 0 && result != -1) {
    std::abort();  // the null host answers 0
  }
  if (code == 801 && result == 0) {
    Json::Value document;
    const std::string text(out.begin(), out.begin() + out_len);
    if (!Json::Reader().parse(text, document) || text.back() != '\n') {
      std::abort();
    }
  }
  // A write that went out fits its register, and its echo confirms it.
  if (velmocair::is_write_acknowledgement_step(device.step)) {
    if (device.write_value < -32768 || device.write_value > 65535) {
      std::abort();
    }
    device.register_buffer[0] = static_cast<std::uint16_t>(device.write_value);
    if (device.process_payload(SPModbus::tab_registers, 1) != 0 || device.write_result != 0) {
      std::abort();
    }
  }
  return 0;
}
