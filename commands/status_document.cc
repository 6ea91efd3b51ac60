#include <json/value.h>
#include <json/writer.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "commands/output_buffer.h"
#include "commands/status_document_table.h"
#include "commands/status_value_rules.h"
#include "device/Velmocair.h"

using velmocair::status::Member;
using velmocair::status::Rule;

namespace {

// Result of a status request whose output buffer is too small.
constexpr int kTooSmall = -1;

void assign(Json::Value& group, const Member& member, const unsigned char* record) {
  namespace status = velmocair::status;
  const std::uint16_t value = status::source_value(record, member);
  switch (member.rule) {
    case Rule::state_text:
      group[member.key] = status::state_text(member.texts, value);
      return;
    case Rule::number:
      group[member.key] = status::number_value(member.scale, value);
      return;
    case Rule::alarm:
      group[member.key] = status::alarm_text(value);
      group[status::kAlertArray][member.key] = status::alarm_active(value);
      return;
  }
}

}  // namespace

// Reads the snapshot of the last completed record, never the record a poll
// cycle may be filling.
void Velmocair::RebuildStatusDocument() {
  const unsigned char* const bytes = velmocair::record_bytes(status_record);
  for (const Member& member : velmocair::status::kStatusDocument) {
    assign(status_doc[member.group], member, bytes);
  }
  char time[velmocair::status::kTimeTextCapacity];
  const std::size_t length = velmocair::status::time_text(bytes, time);
  status_doc[velmocair::status::kUpdateTime] = Json::Value(time, time + length);
}

void Velmocair::BringStatusDocumentUpToDate() {
  if (status_record_time != status_doc_time) {
    status_doc_time = status_record_time;
    RebuildStatusDocument();
  }
}

// The lock is held through the serialisation, so that no other request
// rebuilds the document while it is written out.
int Velmocair::ReadStatusText(void* out, int out_cap, int& out_len) {
  std::string text;
  {
    const std::lock_guard<std::mutex> lock(status_mutex);
    BringStatusDocumentUpToDate();
    text = Json::FastWriter().write(status_doc);
  }
  out_len = static_cast<int>(text.size());
  if (!velmocair::has_room(out, out_cap, text.size())) {
    return kTooSmall;
  }
  std::memcpy(out, text.data(), text.size());
  return 0;
}

// Hands out the document's address, a native pointer; the caller reads the
// document in place.
int Velmocair::ReadStatusReference(void* out, int out_cap, int& out_len) {
  {
    const std::lock_guard<std::mutex> lock(status_mutex);
    BringStatusDocumentUpToDate();
  }
  const Json::Value* const document = &status_doc;
  out_len = static_cast<int>(sizeof document);
  if (!velmocair::has_room(out, out_cap, sizeof document)) {
    return kTooSmall;
  }
  std::memcpy(out, &document, sizeof document);
  return 0;
}
