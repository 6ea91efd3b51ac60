#include "commands/probe_records.h"

#include <cstddef>

#include "device/poll_cycle_table.h"

namespace velmocair::status {
namespace {

// The value of every coil and of every register.
struct FieldValues {
  unsigned char coils;
  unsigned char registers;
};
// clang-format off
// coils  registers
constexpr FieldValues kFieldValues[] = {
    {0, 0},
    {1, 1},
    {2, 2},
    {1, 0},
    {0, 1},
};
// clang-format on

// Every coil byte and every register word of the polled blocks at its value.
RecordBytes every_field_at(FieldValues values) {
  RecordBytes record{};
  for (const PollStep& step : kPollCycle) {
    const bool coils = step.request.kind == ReadKind::coils;
    const std::size_t width = bytes_per_item(step.request.kind);
    for (std::size_t at = 0; at < step.target.bytes; at += width) {
      record[step.target.offset + at] = coils ? values.coils : values.registers;
    }
  }
  return record;
}

}  // namespace

std::vector<RecordBytes> probe_records() {
  std::vector<RecordBytes> records;
  for (const FieldValues& values : kFieldValues) {
    records.push_back(every_field_at(values));
  }
  RecordBytes ramp{};
  for (std::size_t offset = 0; offset < ramp.size(); ++offset) {
    ramp[offset] = static_cast<unsigned char>(offset);
  }
  records.push_back(ramp);
  return records;
}

}  // namespace velmocair::status
