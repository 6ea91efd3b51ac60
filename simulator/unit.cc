#include "simulator/unit.h"

#include <stdexcept>
#include <string>

#include "simulator/default_values.h"

namespace velmocair::sim {
namespace {

constexpr int kCoilBase = lowest_address(Area::coils);
constexpr int kCoilSpan = highest_address(Area::coils) - kCoilBase + 1;
constexpr int kRegisterBase = lowest_address(Area::registers);
constexpr int kRegisterSpan = highest_address(Area::registers) - kRegisterBase + 1;
constexpr std::uint32_t kGenerationMask = 0xFFFF;
constexpr int kByteBits = 8;

RequestKind kind_of(const Request& request) {
  switch (request.function) {
    case kReadCoils:
      return RequestKind::read_coils;
    case kReadRegisters:
      return RequestKind::read_registers;
    case kWriteRegister:
      return RequestKind::write_register;
    default:
      return RequestKind::any;
  }
}

void check_served(Area area, int first, int count) {
  if (count < 1 || !is_served(area, first, count)) {
    throw std::out_of_range(std::string(area == Area::coils ? "coils " : "registers ") +
                            std::to_string(first) + " count " + std::to_string(count) +
                            " are not served");
  }
}

std::uint8_t high_byte(int value) { return static_cast<std::uint8_t>((value >> kByteBits) & 0xFF); }
std::uint8_t low_byte(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

}  // namespace

int exception_for(const Request& request, bool other_device) {
  switch (request.function) {
    case kReadCoils:
      if (request.quantity < 1 || request.quantity > MODBUS_MAX_READ_BITS) {
        return kIllegalDataValue;
      }
      return is_served(Area::coils, request.address, request.quantity, other_device)
                 ? 0
                 : kIllegalDataAddress;
    case kReadRegisters:
      if (request.quantity < 1 || request.quantity > MODBUS_MAX_READ_REGISTERS) {
        return kIllegalDataValue;
      }
      return is_served(Area::registers, request.address, request.quantity, other_device)
                 ? 0
                 : kIllegalDataAddress;
    case kWriteRegister:
      return is_writable(request.address) && !other_device ? 0 : kIllegalDataAddress;
    default:
      return kIllegalFunction;
  }
}

Unit::Unit(int id, const UnitSetup& setup, bool mark_generations, std::uint64_t seed,
           bool other_device)
    : id_(id),
      mark_generations_(mark_generations),
      other_device_(other_device),
      timeline_(setup.timeline),
      image_(modbus_mapping_new_start_address(kCoilBase, kCoilSpan, 0, 0, kRegisterBase,
                                              kRegisterSpan, 0, 0)),
      random_(unit_random(seed, id)) {
  if (image_ == nullptr) {
    throw std::runtime_error("cannot allocate the image of unit " + std::to_string(id));
  }
  for (const DefaultCoil& coil : kDefaultCoils) {
    set({Area::coils, coil.address, 1});
  }
  for (const DefaultRegister& word : kDefaultRegisters) {
    set({Area::registers, word.address, word.value});
  }
  for (const UnitChange& change : setup.initial) {
    set(change);
  }
  mark();
}

Unit::~Unit() { modbus_mapping_free(image_); }

const FaultRule* Unit::admit(const Request& request, const FaultPlan& plan) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (request.function == kReadCoils && request.address == kCycleStart.first) {
    start_cycle();
  }
  const RequestTraits traits{
      id_, kind_of(request), cycle_,
      request.function == kWriteRegister && exception_for(request, other_device_) == 0};
  return plan.pick(traits, random_);
}

std::vector<std::uint8_t> Unit::reply_pdu(const Request& request) {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::uint8_t> pdu{static_cast<std::uint8_t>(request.function)};
  if (request.function == kReadCoils) {
    pdu.resize(static_cast<std::size_t>(reply_pdu_length(request)), 0);
    pdu[1] = static_cast<std::uint8_t>(pdu.size() - 2);
    for (int i = 0; i < request.quantity; ++i) {
      if (image_->tab_bits[request.address - kCoilBase + i] != 0) {
        pdu[2 + i / kByteBits] |= static_cast<std::uint8_t>(1u << (i % kByteBits));
      }
    }
    return pdu;
  }
  if (request.function == kReadRegisters) {
    pdu.push_back(static_cast<std::uint8_t>(2 * request.quantity));
    for (int i = 0; i < request.quantity; ++i) {
      const int word = image_->tab_registers[request.address - kRegisterBase + i];
      pdu.push_back(high_byte(word));
      pdu.push_back(low_byte(word));
    }
    return pdu;
  }
  set({Area::registers, request.address, static_cast<std::uint16_t>(request.quantity)});
  mark();
  pdu.insert(pdu.end(), {high_byte(request.address), low_byte(request.address),
                         high_byte(request.quantity), low_byte(request.quantity)});
  return pdu;
}

int Unit::cycles() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return cycle_;
}

std::vector<std::uint8_t> Unit::coils(int first, int count) const {
  check_served(Area::coils, first, count);
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::uint8_t* begin = image_->tab_bits + (first - kCoilBase);
  return std::vector<std::uint8_t>(begin, begin + count);
}

std::vector<std::uint16_t> Unit::registers(int first, int count) const {
  check_served(Area::registers, first, count);
  const std::lock_guard<std::mutex> lock(mutex_);
  const std::uint16_t* begin = image_->tab_registers + (first - kRegisterBase);
  return std::vector<std::uint16_t>(begin, begin + count);
}

void Unit::set(const UnitChange& change) {
  if (change.area == Area::coils) {
    image_->tab_bits[change.address - kCoilBase] = static_cast<std::uint8_t>(change.value);
  } else {
    image_->tab_registers[change.address - kRegisterBase] = change.value;
  }
}

void Unit::start_cycle() {
  ++cycle_;
  for (; next_event_ < timeline_.size() && timeline_[next_event_].cycle <= cycle_; ++next_event_) {
    for (const UnitChange& change : timeline_[next_event_].changes) {
      set(change);
    }
    for (const Ramp& ramp : timeline_[next_event_].ramps) {
      ramps_.push_back({ramp, cycle_, image_->tab_registers[ramp.address - kRegisterBase]});
    }
  }
  follow_ramps();
  mark();
}

void Unit::follow_ramps() {
  for (auto running = ramps_.begin(); running != ramps_.end();) {
    const Ramp& ramp = running->ramp;
    const int done = cycle_ - running->first_cycle;
    const long from = running->from;
    const long value = from + (static_cast<long>(ramp.target) - from) * done / ramp.cycles;
    set({Area::registers, ramp.address, static_cast<std::uint16_t>(value)});
    running = done >= ramp.cycles ? ramps_.erase(running) : running + 1;
  }
}

void Unit::mark() {
  if (!mark_generations_) {
    return;
  }
  const auto generation =
      static_cast<std::uint16_t>(static_cast<std::uint32_t>(cycle_) & kGenerationMask);
  for (const PollRead& read : kPollReads) {
    if (read.area == Area::registers) {
      set({Area::registers, read.first, generation});
    }
  }
}

}  // namespace velmocair::sim
