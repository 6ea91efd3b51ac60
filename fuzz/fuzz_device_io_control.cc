// Whatever a caller hands DeviceIoControl: any code, input and input length
// (negative and null included), any output capacity (negative, 0 and around
// each size that matters), status documents of any record, and after a write
// the unit's echo (matching or not), an exception or a time-out.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/echo.h"
#include "fuzz/fuzz_device.h"
#include "fuzz/io_control_check.h"
#include "host/NullController.h"

using velmocair::fuzz::ByteReader;
using velmocair::fuzz::FuzzDevice;

// Input: a 14-byte header (code, echo, the input and output lengths and sizes), then
// the command's input bytes; for the status codes a record completes first
// when the input holds one.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 14;
  ByteReader header(data, size < kHeader ? size : kHeader);
  const std::string body =
      size > kHeader ? std::string(reinterpret_cast<const char*>(data + kHeader), size - kHeader)
                     : std::string();

  const auto host = std::make_shared<NullController>();
  FuzzDevice device;
  device.Init(host, 1, Json::Value(Json::objectValue));

  const int code = velmocair::fuzz::read_code(header);
  const velmocair::fuzz::Echo echo = velmocair::fuzz::read_echo(header);
  const velmocair::fuzz::Input input = velmocair::fuzz::read_input(header, body);
  if ((code == velmocair::kStatusTextCode || code == velmocair::kStatusReferenceCode) &&
      body.size() >= velmocair::fuzz::kRecordSize) {
    velmocair::fuzz::require(
        device.LoadFromCache(reinterpret_cast<const unsigned char*>(body.data()),
                             static_cast<int>(velmocair::fuzz::kRecordSize)));
  }
  const velmocair::fuzz::Output output = velmocair::fuzz::read_output(header, device);

  velmocair::fuzz::checked_io_control(device, code, input, output);
  velmocair::fuzz::check_state(device);
  velmocair::fuzz::answer_write(device, echo);
  velmocair::fuzz::check_state(device);
  velmocair::fuzz::checked_io_control(device, 0, {{}, 0, true},
                                      {static_cast<int>(velmocair::fuzz::kResultSize), false});
  return 0;
}
