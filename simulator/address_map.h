#pragma once

#include <cstddef>
#include <iterator>

namespace velmocair::sim {

enum class Area : unsigned char { coils, registers };

// A run of consecutive addresses that the unit answers for.
struct ServedRange {
  Area area;
  int first;
  int last;
  bool other_device;  // another Modbus device answers here too
};

// One read of the device's poll cycle, as it is put on the wire.
struct PollRead {
  Area area;
  int first;
  int count;
};

// Addresses the unit serves; a read that leaves them gets exception 02.
// Another Modbus device on the bus (a sibling model that has only the
// indoor unit's block) answers some of them: the first seven reads of the
// poll cycle.
// clang-format off
// area             first  last  other device
inline constexpr ServedRange kServedRanges[] = {
    {Area::coils,     8001, 8075, true},
    {Area::coils,     8101, 8152, false},
    {Area::coils,     8201, 8264, false},
    {Area::coils,     8501, 8564, false},
    {Area::registers, 3501, 3514, false},
    {Area::registers, 8001, 8038, true},
    {Area::registers, 8101, 8110, false},
    {Area::registers, 8133, 8142, false},
    {Area::registers, 8205, 8206, false},
    {Area::registers, 8221, 8222, false},
    {Area::registers, 8501, 8514, false},
};
// clang-format on
static_assert(std::size(kServedRanges) == 11);

// The reads of one poll cycle in the order the device issues them. The first
// one starts a cycle; the first register of every register read carries the
// generation mark.
// clang-format off
// area             first  count
inline constexpr PollRead kPollReads[] = {
    {Area::coils,     8001, 32},
    {Area::coils,     8033,  8},
    {Area::coils,     8041,  8},
    {Area::coils,     8049,  3},
    {Area::coils,     8052,  4},
    {Area::coils,     8056, 20},
    {Area::registers, 8001, 38},
    {Area::coils,     8101, 31},
    {Area::registers, 8101, 10},
    {Area::coils,     8133, 20},
    {Area::registers, 8133, 10},
    {Area::coils,     8501, 32},
    {Area::registers, 8501,  6},
    {Area::coils,     8533, 32},
    {Area::registers, 8509,  6},
    {Area::registers, 3501, 14},
    {Area::coils,     8201, 32},
    {Area::registers, 8205,  2},
    {Area::coils,     8233, 32},
    {Area::registers, 8221,  2},
};
// clang-format on
static_assert(std::size(kPollReads) == 20);

inline constexpr const PollRead& kCycleStart = kPollReads[0];

// Holding registers a single-register write may change: the return-air
// temperature set-point, the humidity set-point and the remote on/off.
inline constexpr int kWritableRegisters[] = {3501, 3504, 3509};
static_assert(std::size(kWritableRegisters) == 3);

// Whether a unit of this type, or with `other_device` another Modbus
// device, answers a read of `count` from `first`.
constexpr bool is_served(Area area, int first, int count, bool other_device = false) {
  for (const ServedRange& range : kServedRanges) {
    if (range.area == area && first >= range.first && first + count - 1 <= range.last &&
        (range.other_device || !other_device)) {
      return true;
    }
  }
  return false;
}

constexpr bool is_writable(int address) {
  for (int writable : kWritableRegisters) {
    if (writable == address) {
      return true;
    }
  }
  return false;
}

// Lowest and highest served address of an area: the span of the unit's image.
constexpr int lowest_address(Area area) {
  int lowest = 0;
  for (const ServedRange& range : kServedRanges) {
    if (range.area == area && (lowest == 0 || range.first < lowest)) {
      lowest = range.first;
    }
  }
  return lowest;
}

constexpr int highest_address(Area area) {
  int highest = 0;
  for (const ServedRange& range : kServedRanges) {
    if (range.area == area && range.last > highest) {
      highest = range.last;
    }
  }
  return highest;
}

constexpr std::size_t count_reads(Area area) {
  std::size_t count = 0;
  for (const PollRead& read : kPollReads) {
    count += read.area == area ? 1 : 0;
  }
  return count;
}

constexpr bool ranges_are_ordered_and_apart() {
  for (std::size_t i = 0; i < std::size(kServedRanges); ++i) {
    const ServedRange& range = kServedRanges[i];
    if (range.first > range.last) {
      return false;
    }
    if (i > 0 && kServedRanges[i - 1].area == range.area &&
        kServedRanges[i - 1].last >= range.first) {
      return false;
    }
  }
  return true;
}

constexpr bool every_read_is_served() {
  for (const PollRead& read : kPollReads) {
    if (!is_served(read.area, read.first, read.count)) {
      return false;
    }
  }
  return true;
}

constexpr bool writable_registers_are_served() {
  for (int address : kWritableRegisters) {
    if (!is_served(Area::registers, address, 1)) {
      return false;
    }
  }
  return true;
}

constexpr int reads_another_device_answers() {
  int answered = 0;
  for (const PollRead& read : kPollReads) {
    answered += is_served(read.area, read.first, read.count, true) ? 1 : 0;
  }
  return answered;
}

static_assert(ranges_are_ordered_and_apart(), "served ranges ascend without overlap per area");
static_assert(reads_another_device_answers() == 7 &&
                  is_served(kCycleStart.area, kCycleStart.first, kCycleStart.count, true),
              "another device answers the first seven reads of the poll cycle, and no more");
static_assert(every_read_is_served(), "the unit answers every read of the poll cycle");
static_assert(writable_registers_are_served(), "writable registers are readable too");
static_assert(kCycleStart.area == Area::coils && kCycleStart.first == 8001);
static_assert(count_reads(Area::coils) == 12 && count_reads(Area::registers) == 8);

}  // namespace velmocair::sim
