#pragma once

// One DeviceIoControl call as an arbitrary caller makes it, with input and
// output in exactly sized heap buffers, and the checks of what it returned.
#include <climits>
#include <cstring>
#include <iterator>
#include <string>

#include "fuzz/fuzz_device.h"

namespace velmocair::fuzz {

// Largest output buffer a target allocates: the status text fits well.
inline constexpr int kMaxCapacity = 1 << 16;
inline constexpr int kUnsetLength = INT_MIN;
inline constexpr std::size_t kAddressSize = sizeof(const Json::Value*);
inline constexpr std::size_t kResultSize = sizeof(std::int32_t);

// Codes that take each branch of the dispatch, and codes at the edges.
inline constexpr int kCodes[] = {100, 102, 106, 110, 310, 320, 801,     803,
                                 0,   101, 104, 800, 802, -1,  INT_MIN, INT_MAX};
static_assert(std::size(kCodes) == 16);

struct Input {
  std::string bytes;
  int length;       // in_len as passed: the size, a negative number, or any for a null input
  bool null_input;  // pass a null pointer
};

struct Output {
  int capacity;      // out_cap as passed
  bool null_output;  // pass a null pointer
};

inline int read_code(ByteReader& in) { return kCodes[in.u8() % std::size(kCodes)]; }

// An input of the bytes given: as it is, with a negative length, or null
// with a length of its own.
inline Input read_input(ByteReader& in, std::string bytes) {
  const std::uint8_t mode = in.u8() % 4;
  const std::int32_t other = in.i32();
  const int size = static_cast<int>(bytes.size());
  switch (mode) {
    case 1:
      return {std::move(bytes), other < 0 ? other : -1 - (other % kMaxCapacity), false};
    case 2:
      return {std::move(bytes), size, true};
    case 3:
      return {{}, other, true};
    default:
      return {std::move(bytes), size, false};
  }
}

// The length of the status text the device would hand out now.
inline int status_text_length(FuzzDevice& device) {
  int length = 0;
  device.DeviceIoControl(kStatusTextCode, nullptr, 0, nullptr, 0, length);
  return length;
}

// A capacity of any value (negative included), one around each size that
// matters (the result, the address, the status text), or a null buffer.
inline Output read_output(ByteReader& in, FuzzDevice& device) {
  const std::uint8_t mode = in.u8() % 6;
  const std::int32_t value = in.i32();
  const int near = static_cast<int>(static_cast<std::uint32_t>(value) % 5) - 2;  // -2..2
  switch (mode) {
    case 0:
      return {value < 0 ? value : value % (kMaxCapacity + 1), false};
    case 1:
      return {static_cast<int>(kResultSize) + near, false};
    case 2:
      return {static_cast<int>(kAddressSize) + near, false};
    case 3:
      return {status_text_length(device) + near, false};
    case 4:
      return {value % (kMaxCapacity + 1), true};
    default:
      return {near <= 0 ? INT_MIN + (near + 2) : 0, false};
  }
}

inline bool is_command(int code) {
  return find_numeric_command(code) != nullptr || code == kJsonSwitchCode ||
         code == kJsonSetPointCode;
}

// Calls DeviceIoControl and checks: no exception leaves it; whatever it
// copies fits the capacity and `out_len` counts it; 801 copies a whole text
// that parses or nothing, 803 the document's address or nothing, a command
// nothing, the result query the write result or nothing.
inline int checked_io_control(FuzzDevice& device, int code, const Input& input,
                              const Output& output) {
  ExactBuffer<> in(input.bytes.size());
  std::copy(input.bytes.begin(), input.bytes.end(), in.data());
  ExactBuffer<> out(
      output.capacity > 0 && !output.null_output ? static_cast<std::size_t>(output.capacity) : 0);
  int out_len = kUnsetLength;
  int result = 0;
  try {
    result =
        device.DeviceIoControl(code, input.null_input ? nullptr : in.data(), input.length,
                               output.null_output ? nullptr : out.data(), output.capacity, out_len);
  } catch (...) {
    fail();
  }
  const bool copied = !out.untouched_from(0);
  if (copied) {
    require(out_len > 0 && out_len <= output.capacity &&
            out.untouched_from(static_cast<std::size_t>(out_len)));
  }
  if (code == kStatusTextCode) {
    if (result == 0) {
      require(copied);
      check_status_text(out.data(), static_cast<std::size_t>(out_len));
    } else {
      require(result == -1 && !copied && out_len > 0 &&
              (output.null_output || out_len > output.capacity));
    }
  } else if (code == kStatusReferenceCode) {
    require(out_len == static_cast<int>(kAddressSize));
    const Json::Value* const document = &device.status_doc;
    require(result == 0 ? copied && std::memcmp(out.data(), &document, kAddressSize) == 0
                        : result == -1 && !copied);
  } else if (is_command(code)) {
    require(!copied && out_len == kUnsetLength && (result == 0 || result == -1));
  } else {
    require(result == 0);
    if (out_len == static_cast<int>(kResultSize)) {
      const std::int32_t written = device.write_result;
      require(copied && std::memcmp(out.data(), &written, kResultSize) == 0);
    } else {
      require(out_len == 0 && !copied);
    }
  }
  return result;
}

}  // namespace velmocair::fuzz
