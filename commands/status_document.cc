#include <json/value.h>
#include <json/writer.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>

#include "commands/output_buffer.h"
#include "commands/status_document_table.h"
#include "device/Velmocair.h"

using velmocair::status::Member;
using velmocair::status::Rule;
using velmocair::status::Scale;
using velmocair::status::StateTexts;

namespace {

// Result of a status request whose output buffer is too small.
constexpr int kTooSmall = -1;

// Tenths are divided in single precision, as the unit's firmware shows them.
constexpr float kTenthsDivisor = 10.0f;

std::uint16_t read_source(const unsigned char* bytes, const Member& member) {
  return member.source.kind == velmocair::ReadKind::coils
             ? bytes[member.offset.value]
             : velmocair::word_at(bytes, member.offset.value);
}

const char* state_text(const StateTexts& texts, std::uint16_t value) {
  const char* const by_value[] = {texts.for0, texts.for1, texts.for2};
  const char* const text = value < std::size(by_value) ? by_value[value] : nullptr;
  return text != nullptr ? text : velmocair::status::kInvalid;
}

double number(Scale scale, std::uint16_t value) {
  if (scale == Scale::tenths) {
    return static_cast<double>(static_cast<float>(value) / kTenthsDivisor);
  }
  return value;
}

void assign(Json::Value& group, const Member& member, std::uint16_t value) {
  switch (member.rule) {
    case Rule::state_text:
      group[member.key] = state_text(member.texts, value);
      return;
    case Rule::number:
      group[member.key] = number(member.scale, value);
      return;
    case Rule::alarm:
      group[member.key] =
          value != 0 ? velmocair::status::kAlarmActive : velmocair::status::kAlarmNormal;
      group[velmocair::status::kAlertArray][member.key] = value != 0;
      return;
  }
}

// year-month-day hour:minute:second, plain decimal without leading zeros.
std::string time_text(const Velmocair_Data_t& record) {
  const auto& stamp = record.time_stamp;
  std::ostringstream text;
  text << velmocair::word_at(stamp.year, 0) << '-' << unsigned{stamp.month} << '-'
       << unsigned{stamp.day} << ' ' << unsigned{stamp.hour} << ':' << unsigned{stamp.minute} << ':'
       << unsigned{stamp.second};
  return text.str();
}

}  // namespace

// Reads the snapshot of the last completed record, never the record a poll
// cycle may be filling.
void Velmocair::RebuildStatusDocument() {
  const unsigned char* const bytes = velmocair::record_bytes(status_record);
  for (const Member& member : velmocair::status::kStatusDocument) {
    assign(status_doc[member.group], member, read_source(bytes, member));
  }
  status_doc[velmocair::status::kUpdateTime] = time_text(status_record);
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
