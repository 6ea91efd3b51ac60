#include <cstring>

#include "commands/write_acknowledgement.h"
#include "device/Velmocair.h"
#include "device/poll_cycle_table.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "register replies are copied into the little-endian record as native words");

using velmocair::kFirstPollStep;
using velmocair::kLastPollStep;
using velmocair::PollStep;
using velmocair::ReadKind;

Velmocair::RefreshResult Velmocair::RefreshStatus() {
  ORBSPDevice::RefreshStatus();
  step = kFirstPollStep.step;
  request(kFirstPollStep.request);
  return 1;
}

Velmocair::PayloadResult Velmocair::process_payload(tab_type /*table*/, unsigned /*count*/) {
  if (velmocair::is_write_acknowledgement_step(step)) {
    return AcknowledgeWrite();
  }
  const PollStep* const current = velmocair::find_poll_step(step);
  if (current == nullptr) {
    return 1;
  }
  // The host's reply tables, whatever their type: a coil as one byte, a
  // register as one native 16-bit word, with room for the largest read.
  static_assert(sizeof bit_buffer[0] == 1 && sizeof bit_buffer >= velmocair::kMaxCoilsPerRead);
  static_assert(sizeof register_buffer[0] == 2 &&
                sizeof register_buffer >= 2 * velmocair::kMaxRegistersPerRead);
  const void* const reply = current->request.kind == ReadKind::coils
                                ? static_cast<const void*>(&bit_buffer[0])
                                : static_cast<const void*>(&register_buffer[0]);
  std::memcpy(velmocair::record_bytes(record) + current->target.offset, reply,
              current->target.bytes);
  if (current == &kLastPollStep) {
    RoundDone();
    return 0;
  }
  const PollStep& next = current[1];
  step = next.step;
  request(next.request);
  return 1;
}

void Velmocair::request(const velmocair::ReadRequest& read) {
  if (read.kind == ReadKind::coils) {
    modbus_read_bits(read.first, read.count);
  } else {
    modbus_read_registers(read.first, read.count);
  }
}
