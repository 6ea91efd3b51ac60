#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "commands/status_document_table.h"
#include "device/Velmocair_Data_t.h"
#include "device/record_access.h"

// The value rules of the status document: what a member shows for the
// record bytes it reads. The device's document and the host's reading of
// stored records both build from these, so the two cannot drift apart.
namespace velmocair::status {

// Tenths are divided in single precision, as the unit's firmware shows them.
inline constexpr float kTenthsDivisor = 10.0f;

// The byte of a coil or the word of a register the member reads.
inline std::uint16_t source_value(const unsigned char* record, const Member& member) {
  return member.source.kind == ReadKind::coils ? record[member.offset.value]
                                               : word_at(record, member.offset.value);
}

// A state text for its value; a value without a text shows "无效值".
inline const char* state_text(const StateTexts& texts, std::uint16_t value) {
  const char* const by_value[] = {texts.for0, texts.for1, texts.for2};
  const char* const text = value < std::size(by_value) ? by_value[value] : nullptr;
  return text != nullptr ? text : kInvalid;
}

// A number as the document holds it: tenths are the single-precision
// quotient, widened exactly.
inline double number_value(Scale scale, std::uint16_t value) {
  if (scale == Scale::tenths) {
    return static_cast<double>(static_cast<float>(value) / kTenthsDivisor);
  }
  return value;
}

// An alarm is active for every value but 0.
inline bool alarm_active(std::uint16_t value) { return value != 0; }
inline const char* alarm_text(std::uint16_t value) {
  return alarm_active(value) ? kAlarmActive : kAlarmNormal;
}

// Room for the longest time text, "65535-255-255 255:255:255", and its zero.
inline constexpr std::size_t kTimeTextCapacity = 26;

// The record's time stamp as "year-month-day hour:minute:second", each in
// plain decimal without leading zeros; zero-terminated, its length returned.
inline std::size_t time_text(const unsigned char* record, char (&out)[kTimeTextCapacity]) {
  constexpr std::size_t kStamp = offsetof(Velmocair_Data_t, time_stamp);
  const unsigned parts[] = {word_at(record, kStamp), record[kStamp + 2], record[kStamp + 3],
                            record[kStamp + 4],      record[kStamp + 5], record[kStamp + 6]};
  constexpr char kSeparators[] = {'-', '-', ' ', ':', ':', '\0'};
  std::size_t length = 0;
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    char digits[5];
    std::size_t count = 0;
    for (unsigned value = parts[i]; count == 0 || value != 0; value /= 10) {
      digits[count++] = static_cast<char>('0' + value % 10);
    }
    while (count > 0) {
      out[length++] = digits[--count];
    }
    out[length] = kSeparators[i];
    length += kSeparators[i] != '\0' ? 1 : 0;
  }
  return length;
}

}  // namespace velmocair::status
