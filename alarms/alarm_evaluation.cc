#include <array>
#include <string>

#include "alarms/alarm_table.h"
#include "device/Velmocair.h"

namespace {

// Alarm modes in which the device reports no alarm points at all.
constexpr int kSilentModes[] = {2, 3};

// Constant arguments of every alarm check.
constexpr int kBooleanCheck = 2;
const std::string& alarm_signal_id() {
  static const std::string id = "12017";
  return id;
}

// The texts as strings, built once rather than for every check.
using AlarmTexts = std::array<std::string, std::size(velmocair::kAlarmTable)>;
const AlarmTexts& alarm_texts() {
  static const AlarmTexts texts = [] {
    AlarmTexts built;
    for (std::size_t i = 0; i < built.size(); ++i) {
      built[i] = velmocair::kAlarmTable[i].text;
    }
    return built;
  }();
  return texts;
}

bool is_silent(int mode) {
  for (const int silent : kSilentModes) {
    if (mode == silent) {
      return true;
    }
  }
  return false;
}

}  // namespace

void Velmocair::RunCheckThreshold() {
  if (is_silent(mode)) {
    return;
  }
  const unsigned char* const bytes = velmocair::record_bytes(record);
  const AlarmTexts& texts = alarm_texts();
  const std::string& signal_id = alarm_signal_id();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const bool active = bytes[velmocair::kAlarmTable[i].offset.value] != 0;
    const unsigned short index = alarm_seq;
    alarm_seq = static_cast<unsigned short>(index + 1);
    CheckThresholdBool(kBooleanCheck, signal_id, signal_id, texts[i], texts[i], active, index);
  }
}
