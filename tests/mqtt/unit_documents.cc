#include "tests/mqtt/unit_documents.h"

#include <vector>

#include "cli/mqtt/document_members.h"
#include "commands/control_commands.h"

namespace velmocair::testing {

Json::Value UnitDocuments::document(const mqtt::RecordTime& time, const Raw& raw) {
  std::vector<unsigned char> record(sizeof(Velmocair_Data_t), 0);
  for (const auto& [member, value] : raw) {
    const status::Member& row = mqtt::document_member(member);
    record[row.offset.value] = static_cast<unsigned char>(value & 0xFF);
    if (row.source.kind == ReadKind::registers) {
      record[row.offset.value + 1] = static_cast<unsigned char>(value >> 8);
    }
  }
  unit_.now = time;
  unit_.device.LoadFromCache(record.data(), static_cast<int>(record.size()));
  unit_.host.calls.clear();
  Json::Value* document = nullptr;
  int length = 0;
  unit_.device.DeviceIoControl(kStatusReferenceCode, nullptr, 0, &document, sizeof document,
                               length);
  return *document;
}

mqtt::RecordTime at_second(int second) {
  return mqtt::RecordTime(boost::gregorian::date(2026, 12, 8),
                          boost::posix_time::seconds(14 * 3600 + second));
}

}  // namespace velmocair::testing
