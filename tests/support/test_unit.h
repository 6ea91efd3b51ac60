#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstdint>
#include <vector>

#include "device/Velmocair.h"
#include "tests/support/scripted_host.h"

// Velmocair with its state opened up for tests.
class VelmocairProbe : public Velmocair {
 public:
  using Velmocair::mode;
  using Velmocair::record;
  using Velmocair::RunCheckThreshold;
  using Velmocair::status_doc;
  using Velmocair::status_doc_time;
  using Velmocair::write_result;
  using Velmocair::write_value;

  unsigned char* bytes() { return velmocair::record_bytes(record); }
};

// A device bound to a recording host, with a frozen clock.
struct TestUnit {
  static constexpr std::uint32_t kDataId = 0x0A0B0C0D;

  explicit TestUnit(const Json::Value& setting = Json::Value(Json::objectValue));

  // Delivers one reply as the host would: fills the reply table and calls
  // process_payload. Returns its result.
  int reply_bits(const std::vector<unsigned char>& bits);
  int reply_registers(const std::vector<std::uint16_t>& registers);
  // Runs RefreshStatus, then answers each outstanding read through the host's
  // reply path (SPModbus::process) with `coil` (0 or 1) for every coil and
  // `word` for every register, until the device stops asking.
  // Returns the number of replies delivered.
  int run_cycle(unsigned char coil = 0, std::uint16_t word = 0);
  static constexpr int kReplyLimit = 100;

  TestHost host;
  VelmocairProbe device;
  boost::posix_time::ptime now{boost::gregorian::date(2021, 3, 5),
                               boost::posix_time::time_duration(7, 8, 9)};
};

// Reply PDUs as a unit sends them: every coil set to `value` (0 or 1), every
// register holding `value`.
std::vector<unsigned char> coils_reply_pdu(int count, unsigned char value);
std::vector<unsigned char> registers_reply_pdu(int count, std::uint16_t value);
