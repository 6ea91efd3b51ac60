#pragma once

// What the device fuzz targets share: the device with its state opened up,
// exactly sized heap buffers, and the checks every step must pass.
#include <json/reader.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "commands/control_commands.h"
#include "device/Velmocair.h"

namespace velmocair::fuzz {

// Reads a fuzz input from the front; past its end every read gives zeros.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint8_t u8() { return at_end() ? 0 : data_[offset_++]; }
  std::uint16_t u16() { return static_cast<std::uint16_t>(u8() << 8 | u8()); }
  std::int32_t i32() {
    const std::uint32_t high = u16();
    return static_cast<std::int32_t>(high << 16 | u16());
  }
  // Up to `count` bytes, fewer at the end of the input.
  std::string bytes(std::size_t count) {
    const std::size_t taken = count < size_ - offset_ ? count : size_ - offset_;
    std::string out(reinterpret_cast<const char*>(data_ + offset_), taken);
    offset_ += taken;
    return out;
  }
  std::string rest() { return bytes(size_ - offset_); }
  bool at_end() const { return offset_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t offset_ = 0;
};

inline constexpr std::size_t kRecordSize = sizeof(Velmocair_Data_t);
inline constexpr int kFreshStep = 0;
inline constexpr int kNoWrite = -1;
inline constexpr std::uint8_t kCanary = 0xA5;

class FuzzDevice : public Velmocair {
 public:
  using Velmocair::record;
  using Velmocair::status_doc;
  using Velmocair::write_result;
  using Velmocair::write_value;
};

// A buffer of exactly `size` items on the heap, every byte kCanary, so that
// an access past it is caught and a write into it seen. Size 0 still gives
// a distinct pointer that owns no item.
template <class Item = std::uint8_t>
class ExactBuffer {
 public:
  explicit ExactBuffer(std::size_t size) : size_(size), items_(new Item[size]) {
    std::memset(items_.get(), kCanary, size * sizeof(Item));
  }
  Item* data() { return items_.get(); }
  std::size_t size() const { return size_; }
  // Whether the items from `from` on all still hold the canary.
  bool untouched_from(std::size_t from) const {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(items_.get());
    for (std::size_t i = from * sizeof(Item); i < size_ * sizeof(Item); ++i) {
      if (bytes[i] != kCanary) {
        return false;
      }
    }
    return true;
  }

 private:
  std::size_t size_;
  std::unique_ptr<Item[]> items_;
};

[[noreturn]] inline void fail() { std::abort(); }
inline void require(bool condition) {
  if (!condition) {
    fail();
  }
}

// The steps the device may be at: fresh, a poll step, a write awaiting its
// echo, or a JSON command that issued no write.
inline bool is_allowed_step(int step) {
  return step == kFreshStep || find_poll_step(step) != nullptr ||
         is_write_acknowledgement_step(step) || step == kJsonSwitchCode ||
         step == kJsonSetPointCode;
}

// The request a device at its step must have outstanding, if any.
inline bool outstanding_request_fits_step(FuzzDevice& device) {
  if (!device.IsProcessing()) {
    return true;
  }
  const ModbusRequest& pending = device.pending_request();
  if (const PollStep* poll = find_poll_step(device.step)) {
    const ModbusRequest::Kind kind = poll->request.kind == ReadKind::coils
                                         ? ModbusRequest::read_bits
                                         : ModbusRequest::read_registers;
    return pending.kind == kind && pending.address == poll->request.first &&
           pending.count == poll->request.count;
  }
  if (const NumericCommand* command = find_numeric_command(device.step)) {
    return pending.kind == ModbusRequest::write_register && pending.address == command->reg.value &&
           pending.value == device.write_value;
  }
  // A JSON command without a write keeps whatever read was outstanding.
  return device.step == kJsonSwitchCode || device.step == kJsonSetPointCode;
}

// The state invariants that hold after every operation.
inline void check_state(FuzzDevice& device) {
  require(is_allowed_step(device.step));
  require(device.write_result == kNoWrite || device.write_result == 0 || device.write_result == 3);
  require(device.write_value == kNoWrite || (device.write_value >= kMinSignedRegisterValue &&
                                             device.write_value <= kMaxRegisterValue));
  require(outstanding_request_fits_step(device));
}

// A status text as code 801 hands it out: "null" before any completion,
// else a JSON object; either ended by a line feed.
inline void check_status_text(const std::uint8_t* text, std::size_t length) {
  require(length > 0 && text[length - 1] == '\n');
  const std::string copy(reinterpret_cast<const char*>(text), length);
  Json::Value document;
  require(Json::Reader().parse(copy, document));
  require(document.isNull() || document.isObject());
}

}  // namespace velmocair::fuzz
