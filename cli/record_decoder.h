#pragma once

#include <json/value.h>

#include <memory>
#include <string>
#include <vector>

#include "cli/plugin_library.h"

class ORBSPDevice;

namespace velmocair::cli {

// An alarm point as the device's evaluation reports it.
struct AlarmPoint {
  unsigned short index = 0;
  std::string text;
};

class AlarmRecorder;

// Stored records decoded through the plug-in, as the host sees them live:
// the status document a device builds from a record (LoadFromCache, then
// the document by reference, code 803), and the alarm points its
// evaluation finds active. The plug-in's "rvSize is N" line of each
// completion is not printed. One thread.
class RecordDecoder {
 public:
  // Throws RunError when the plug-in cannot be loaded.
  explicit RecordDecoder(const std::string& plugin_path);
  ~RecordDecoder();
  RecordDecoder(const RecordDecoder&) = delete;
  RecordDecoder& operator=(const RecordDecoder&) = delete;

  // The document of the record, valid until the next call; null when the
  // device refuses the record. A fresh device builds each, since a device
  // rebuilds its document only when a second has passed since the last; a
  // record equal to the one before but for its time stamp gets the same
  // document again (its members come from the record's other bytes).
  // The points the record's evaluation found active follow in
  // recorded_points().
  const Json::Value* document(const std::vector<unsigned char>& record);

  // The points active in the record, by index; false when the device
  // refuses the record. Cheaper than document(): one device serves all.
  bool active_points(const std::vector<unsigned char>& record, std::vector<AlarmPoint>& active);

  // The points active in the record last decoded.
  const std::vector<AlarmPoint>& recorded_points() const;

 private:
  std::unique_ptr<ORBSPDevice> configured_device();

  PluginLibrary plugin_;
  std::shared_ptr<AlarmRecorder> recorder_;
  std::unique_ptr<ORBSPDevice> alarm_device_;
  std::unique_ptr<ORBSPDevice> document_device_;
  const Json::Value* last_document_ = nullptr;
  std::vector<unsigned char> last_record_;
};

}  // namespace velmocair::cli
