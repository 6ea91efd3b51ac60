#include "cli/runtime/trace_file.h"

#include <algorithm>
#include <iterator>

#include "cli/options/exit_status.h"
#include "cli/runtime/compact_json.h"

namespace velmocair::cli {
namespace {

// The members of a call in the order a line shows them; jsoncpp would sort
// them by name. A member outside this list follows them, in name order.
constexpr const char* kMemberOrder[] = {"call", "device", "args", "result", "exception"};

std::string compact(const Json::Value& value) { return compact_json(value, NonAscii::utf8); }

bool ordered(const std::string& key) {
  return std::any_of(std::begin(kMemberOrder), std::end(kMemberOrder),
                     [&key](const char* name) { return key == name; });
}

std::string ordered_line(const Json::Value& call) {
  if (!call.isObject()) {
    return compact(call);
  }
  std::string line;
  const auto append = [&line, &call](const std::string& key) {
    line += (line.empty() ? "{" : ",") + compact(Json::Value(key)) + ":" + compact(call[key]);
  };
  for (const char* key : kMemberOrder) {
    if (call.isMember(key)) {
      append(key);
    }
  }
  for (const std::string& key : call.getMemberNames()) {
    if (!ordered(key)) {
      append(key);
    }
  }
  return line.empty() ? "{}" : line + "}";
}

}  // namespace

TraceFile::TraceFile(const std::string& path) : file_(path, std::ios::out | std::ios::trunc) {
  if (!file_) {
    throw RunError("cannot write the trace file " + path);
  }
}

void TraceFile::write(const Json::Value& call) {
  const std::string line = ordered_line(call) + "\n";
  const std::lock_guard<std::mutex> lock(mutex_);
  file_ << line << std::flush;
}

}  // namespace velmocair::cli
