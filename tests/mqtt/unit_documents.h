#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <map>

#include "cli/mqtt/record_time.h"
#include "tests/support/test_unit.h"

namespace velmocair::testing {

// Status documents as the real plug-in builds them: a device fed a record
// through LoadFromCache at a given time, its document read by reference
// (code 803). Record words and bytes are set by the document member that
// shows them.
class UnitDocuments {
 public:
  // Member index (cli/mqtt/document_members.h) to the raw record value: a
  // number's word (tenths where the member shows tenths), a state's or an
  // alarm's byte or word.
  using Raw = std::map<std::size_t, std::uint16_t>;

  Json::Value document(const mqtt::RecordTime& time, const Raw& raw = {});

  // The device itself, for commands: its echo and result query are real.
  TestUnit& unit() { return unit_; }

 private:
  TestUnit unit_;
};

// A record time a number of seconds after a fixed day.
mqtt::RecordTime at_second(int second);

}  // namespace velmocair::testing
