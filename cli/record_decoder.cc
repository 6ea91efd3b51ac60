#include "cli/record_decoder.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iostream>
#include <streambuf>

#include "cli/command_table.h"
#include "cli/exit_status.h"
#include "device/Velmocair_Data_t.h"
#include "host/NullController.h"
#include "host/ORBSPDevice.h"

namespace velmocair::cli {
namespace {

// The data id decoding devices are given; the record's own header stays.
constexpr std::uint32_t kDecodingDataId = 0;

// Swallows what is written to it.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(const char* /*text*/, std::streamsize count) override { return count; }
};

// Keeps standard output (std::cout, where the plug-in writes its lines)
// silent while it lives.
class SilentStandardOutput {
 public:
  SilentStandardOutput() : kept_(std::cout.rdbuf(&silence_)) {}
  ~SilentStandardOutput() { std::cout.rdbuf(kept_); }
  SilentStandardOutput(const SilentStandardOutput&) = delete;
  SilentStandardOutput& operator=(const SilentStandardOutput&) = delete;

 private:
  NullBuffer silence_;
  std::streambuf* kept_;
};

bool load(ORBSPDevice& device, const std::vector<unsigned char>& record) {
  const SilentStandardOutput silent;
  return device.LoadFromCache(record.data(), static_cast<int>(record.size()));
}

}  // namespace

// A host that keeps the state of each alarm check of the last completion.
class AlarmRecorder : public NullController {
 public:
  bool CheckThresholdBool(ORBVDevice& /*device*/, int /*type*/, const std::string& /*signal_id*/,
                          const std::string& /*sub_id*/, const std::string& /*name*/,
                          const std::string& text, bool state, unsigned short index) override {
    if (state) {
      active_.push_back({index, text});
    }
    return false;
  }
  // Call before a completion.
  void clear() { active_.clear(); }
  const std::vector<AlarmPoint>& active() const { return active_; }

 private:
  std::vector<AlarmPoint> active_;
};

RecordDecoder::RecordDecoder(const std::string& plugin_path)
    : plugin_(plugin_path.empty() ? default_plugin_path() : plugin_path),
      recorder_(std::make_shared<AlarmRecorder>()),
      alarm_device_(configured_device()) {}

RecordDecoder::~RecordDecoder() {
  // The devices go before the library that made them.
  document_device_.reset();
  alarm_device_.reset();
}

std::unique_ptr<ORBSPDevice> RecordDecoder::configured_device() {
  std::unique_ptr<ORBSPDevice> device = plugin_.create_device();
  if (device->Init(recorder_, kDecodingDataId, Json::Value(Json::objectValue)) != 0) {
    throw RunError(plugin_.path() + ": the device refused an empty configuration");
  }
  return device;
}

const Json::Value* RecordDecoder::document(const std::vector<unsigned char>& record) {
  constexpr std::size_t kStamp = offsetof(Velmocair_Data_t, time_stamp);
  if (last_document_ != nullptr && record.size() == last_record_.size() &&
      record.size() >= kStamp &&
      std::equal(record.begin(), record.begin() + kStamp, last_record_.begin())) {
    return last_document_;
  }
  last_document_ = nullptr;
  last_record_ = record;
  document_device_ = configured_device();
  recorder_->clear();
  if (!load(*document_device_, record)) {
    return nullptr;
  }
  const Json::Value* document = nullptr;
  int length = 0;
  if (document_device_->DeviceIoControl(kStatusReferenceCode, nullptr, 0, &document,
                                        static_cast<int>(sizeof document), length) != 0 ||
      length != static_cast<int>(sizeof document)) {
    return nullptr;
  }
  last_document_ = document;
  return document;
}

bool RecordDecoder::active_points(const std::vector<unsigned char>& record,
                                  std::vector<AlarmPoint>& active) {
  recorder_->clear();
  if (!load(*alarm_device_, record)) {
    return false;
  }
  active = recorder_->active();
  return true;
}

const std::vector<AlarmPoint>& RecordDecoder::recorded_points() const {
  return recorder_->active();
}

}  // namespace velmocair::cli
