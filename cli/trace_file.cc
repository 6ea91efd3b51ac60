#include "cli/trace_file.h"

#include <json/writer.h>

#include "cli/exit_status.h"

namespace velmocair::cli {
namespace {

std::string compact_line(const Json::Value& value) {
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "";
  builder["emitUTF8"] = true;
  return Json::writeString(builder, value);
}

}  // namespace

TraceFile::TraceFile(const std::string& path) : file_(path, std::ios::out | std::ios::trunc) {
  if (!file_) {
    throw RunError("cannot write the trace file " + path);
  }
}

void TraceFile::write(const Json::Value& call) {
  const std::string line = compact_line(call) + "\n";
  const std::lock_guard<std::mutex> lock(mutex_);
  file_ << line << std::flush;
}

}  // namespace velmocair::cli
