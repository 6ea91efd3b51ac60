#pragma once

#include <json/value.h>

#include <fstream>
#include <mutex>
#include <string>

namespace velmocair::cli {

// The --trace file: one compact JSON object per line, in the order the calls
// returned, whole lines even when several buses call at once. A line's
// members come in the order "call", "device", "args", then "result" or
// "exception".
class TraceFile {
 public:
  // Throws RunError when the file cannot be written.
  explicit TraceFile(const std::string& path);
  void write(const Json::Value& call);

 private:
  std::mutex mutex_;
  std::ofstream file_;
};

}  // namespace velmocair::cli
