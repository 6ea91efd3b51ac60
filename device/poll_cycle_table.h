#pragma once

#include <cstddef>
#include <iterator>

#include "device/Velmocair_Data_t.h"

namespace velmocair {

enum class ReadKind : unsigned char { coils, registers };

// The read a step awaits, as the device requests it.
struct ReadRequest {
  ReadKind kind;
  int first;  // first coil or register address
  int count;
};

// Where the reply of a step lands in the record.
struct RecordSpan {
  std::size_t offset;
  std::size_t bytes;
};

constexpr ReadRequest read_bits(int first, int count) { return {ReadKind::coils, first, count}; }
constexpr ReadRequest read_registers(int first, int count) {
  return {ReadKind::registers, first, count};
}
constexpr RecordSpan to_record(std::size_t offset, std::size_t bytes) { return {offset, bytes}; }

struct PollStep {
  int step;
  ReadRequest request;
  RecordSpan target;
};

// One poll cycle: the reply awaited at each step and where it is copied. The
// request for a step is issued by the handler of the step before it (the
// first by RefreshStatus); the reply of the last step completes the cycle.
// clang-format off
// step  request awaited: read, first address, count   copied to record: offset, bytes
inline constexpr PollStep kPollCycle[] = {
    {11, read_bits(8001, 32),         to_record(  4, 32)},
    {12, read_bits(8033, 8),          to_record( 36,  8)},
    {13, read_bits(8041, 8),          to_record( 44,  8)},
    {14, read_bits(8049, 3),          to_record( 52,  3)},
    {15, read_bits(8052, 4),          to_record( 55,  4)},
    {16, read_bits(8056, 20),         to_record( 59, 20)},
    {17, read_registers(8001, 38),    to_record( 79, 76)},
    {18, read_bits(8101, 31),         to_record(155, 31)},
    {19, read_registers(8101, 10),    to_record(186, 20)},
    {20, read_bits(8133, 20),         to_record(206, 20)},
    {21, read_registers(8133, 10),    to_record(226, 20)},
    {22, read_bits(8501, 32),         to_record(246, 32)},
    {23, read_registers(8501, 6),     to_record(278, 12)},
    {24, read_bits(8533, 32),         to_record(290, 32)},
    {25, read_registers(8509, 6),     to_record(322, 12)},
    {26, read_registers(3501, 14),    to_record(334, 28)},
    {27, read_bits(8201, 32),         to_record(362, 32)},
    {28, read_registers(8205, 2),     to_record(394,  4)},
    {29, read_bits(8233, 32),         to_record(398, 32)},
    {30, read_registers(8221, 2),     to_record(430,  4)},
};
// clang-format on
static_assert(std::size(kPollCycle) == 20, "a poll cycle is 20 reads");

inline constexpr const PollStep& kFirstPollStep = kPollCycle[0];
inline constexpr const PollStep& kLastPollStep = kPollCycle[std::size(kPollCycle) - 1];

// The largest reads a unit is asked for; the host's reply tables hold more.
inline constexpr int kMaxCoilsPerRead = 32;
inline constexpr int kMaxRegistersPerRead = 38;

constexpr std::size_t bytes_per_item(ReadKind kind) { return kind == ReadKind::coils ? 1 : 2; }

// The row for `step`, or null for a step outside the cycle.
constexpr const PollStep* find_poll_step(int step) {
  if (step < kFirstPollStep.step || step > kLastPollStep.step) {
    return nullptr;
  }
  return &kPollCycle[step - kFirstPollStep.step];
}

// Coil or register address whose image starts at record `offset` within a
// block of `kind`; -1 where no such block covers the offset.
constexpr int address_at(ReadKind kind, std::size_t offset) {
  for (const PollStep& row : kPollCycle) {
    const std::size_t width = bytes_per_item(row.request.kind);
    if (row.request.kind == kind && offset >= row.target.offset &&
        offset < row.target.offset + row.target.bytes &&
        (offset - row.target.offset) % width == 0) {
      return row.request.first + static_cast<int>((offset - row.target.offset) / width);
    }
  }
  return -1;
}

namespace poll_cycle_checks {

constexpr bool steps_count_up_by_one() {
  for (std::size_t i = 0; i < std::size(kPollCycle); ++i) {
    if (kPollCycle[i].step != kFirstPollStep.step + static_cast<int>(i)) {
      return false;
    }
  }
  return true;
}

constexpr bool blocks_tile_the_record() {
  std::size_t next = offsetof(Velmocair_Data_t, indoor_states_alarms);
  for (const PollStep& row : kPollCycle) {
    if (row.target.offset != next) {
      return false;
    }
    next += row.target.bytes;
  }
  return next == offsetof(Velmocair_Data_t, time_stamp);
}

constexpr bool byte_counts_match_reads() {
  for (const PollStep& row : kPollCycle) {
    const int limit = row.request.kind == ReadKind::coils ? kMaxCoilsPerRead : kMaxRegistersPerRead;
    if (row.request.count < 1 || row.request.count > limit ||
        row.target.bytes != bytes_per_item(row.request.kind) * row.request.count) {
      return false;
    }
  }
  return true;
}

static_assert(steps_count_up_by_one(), "steps run 11..30 in table order");
static_assert(blocks_tile_the_record(), "blocks cover offsets 4..433 without gap or overlap");
static_assert(byte_counts_match_reads(), "each block holds exactly the items its read returns");

}  // namespace poll_cycle_checks

}  // namespace velmocair
