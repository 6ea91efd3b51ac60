// poller-layout: prints, as one JSON object, what a poller needs to fill the
// record and build the status document as the device does: the record's
// size and where its time stamp lies, the 20 reads with the record bytes each
// fills, and every assignment of a build in order. The
// Python poller of the side-by-side runs reads it instead of repeating the
// tables.
#include <json/value.h>
#include <json/writer.h>

#include <cstddef>
#include <iostream>
#include <memory>

#include "commands/status_document_table.h"
#include "device/poll_cycle_table.h"

namespace {

namespace status = velmocair::status;

const char* kind_name(velmocair::ReadKind kind) {
  return kind == velmocair::ReadKind::coils ? "coils" : "registers";
}

const char* rule_name(status::Rule rule) {
  switch (rule) {
    case status::Rule::state_text:
      return "state_text";
    case status::Rule::number:
      return "number";
    case status::Rule::alarm:
      return "alarm";
  }
  return "";
}

Json::Value text_or_null(const char* text) {
  return text != nullptr ? Json::Value(text) : Json::Value();
}

Json::Value reads() {
  Json::Value list(Json::arrayValue);
  for (const velmocair::PollStep& step : velmocair::kPollCycle) {
    Json::Value read;
    read["kind"] = kind_name(step.request.kind);
    read["first"] = step.request.first;
    read["count"] = step.request.count;
    read["offset"] = static_cast<Json::UInt>(step.target.offset);
    read["bytes"] = static_cast<Json::UInt>(step.target.bytes);
    list.append(read);
  }
  return list;
}

Json::Value members() {
  Json::Value list(Json::arrayValue);
  for (const status::Member& member : status::kStatusDocument) {
    Json::Value row;
    row["group"] = member.group;
    row["key"] = member.key;
    row["rule"] = rule_name(member.rule);
    row["offset"] = static_cast<Json::UInt>(member.offset.value);
    row["kind"] = kind_name(member.source.kind);
    row["tenths"] = member.scale == status::kTenths;
    Json::Value texts(Json::arrayValue);
    texts.append(text_or_null(member.texts.for0));
    texts.append(text_or_null(member.texts.for1));
    texts.append(text_or_null(member.texts.for2));
    row["texts"] = texts;
    list.append(row);
  }
  return list;
}

}  // namespace

int main() {
  Json::Value layout;
  layout["record_size"] = static_cast<Json::UInt>(sizeof(Velmocair_Data_t));
  layout["time_stamp"] = static_cast<Json::UInt>(offsetof(Velmocair_Data_t, time_stamp));
  layout["reads"] = reads();
  layout["members"] = members();
  layout["alert_array"] = status::kAlertArray;
  layout["invalid"] = status::kInvalid;
  layout["alarm_normal"] = status::kAlarmNormal;
  layout["alarm_active"] = status::kAlarmActive;
  layout["update_time"] = status::kUpdateTime;
  Json::StreamWriterBuilder builder;
  builder["emitUTF8"] = true;
  builder["indentation"] = "";
  const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
  writer->write(layout, &std::cout);
  std::cout << '\n';
  return std::cout.good() ? 0 : 1;
}
