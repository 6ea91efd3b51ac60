#include "cli/runtime/compact_json.h"

#include <json/writer.h>

namespace velmocair::cli {

std::string compact_json(const Json::Value& value, NonAscii non_ascii) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = non_ascii == NonAscii::utf8;
  return Json::writeString(builder, value);
}

}  // namespace velmocair::cli
