// The host behind one unit, driving the plug-in's device through a cache
// load: publishing, history, alarm rules and the count of completions.
#include "host/services/unit_controller.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "tests/host_services/history_file.h"
#include "tests/support/test_unit.h"

namespace {

constexpr std::uint32_t kDataId = 41;
constexpr std::size_t kRecordSize = 441;
constexpr std::size_t kHighTemperatureByte = 46;  // coil 8043, alarm index 25
constexpr unsigned short kHighTemperatureIndex = 25;

struct Fixture {
  Fixture() {
    device.Init(controller, kDataId, Json::Value(Json::objectValue));
    record[0] = kDataId;
  }

  bool load() { return device.LoadFromCache(record.data(), static_cast<int>(record.size())); }

  sitehost::Publisher publisher;
  std::vector<rule_value> reported;
  sitehost::ThresholdService thresholds{
      [this](std::uint32_t, const std::vector<rule_value>& rules) {
        reported.insert(reported.end(), rules.begin(), rules.end());
      }};
  std::shared_ptr<sitehost::UnitController> controller = std::make_shared<sitehost::UnitController>(
      sitehost::HostServices{publisher, thresholds, nullptr});
  VelmocairProbe device;
  std::vector<unsigned char> record = std::vector<unsigned char>(kRecordSize, 0);
};

TEST(UnitController, PublishesEachCompletionUnderItsPublicationId) {
  Fixture fixture;
  ASSERT_TRUE(fixture.load());
  const std::optional<sitehost::Publication> published = fixture.publisher.latest(kDataId);
  ASSERT_TRUE(published);
  EXPECT_EQ(published->publication_id, 5156);
  ASSERT_EQ(published->data.size(), kRecordSize);
  EXPECT_EQ(published->data[0], kDataId);
  EXPECT_EQ(published->sequence, 1u);
  EXPECT_EQ(fixture.controller->completions(), 1u);
  EXPECT_FALSE(fixture.publisher.latest(kDataId + 1));
}

TEST(UnitController, TurnsAlarmChangesIntoReportedRules) {
  Fixture fixture;
  fixture.record[kHighTemperatureByte] = 1;
  ASSERT_TRUE(fixture.load());
  ASSERT_EQ(fixture.reported.size(), 1u);
  EXPECT_TRUE(fixture.reported[0].active);
  EXPECT_EQ(fixture.reported[0].index, kHighTemperatureIndex);
  EXPECT_EQ(fixture.reported[0].text, "高温报警");
  EXPECT_TRUE(fixture.device.pending_rules.empty()) << "the device clears what it handed back";

  ASSERT_TRUE(fixture.load());
  EXPECT_EQ(fixture.reported.size(), 1u) << "an unchanged alarm is not reported again";

  fixture.record[kHighTemperatureByte] = 0;
  ASSERT_TRUE(fixture.load());
  ASSERT_EQ(fixture.reported.size(), 2u);
  EXPECT_FALSE(fixture.reported[1].active);
  EXPECT_EQ(fixture.reported[1].index, kHighTemperatureIndex);
  EXPECT_EQ(fixture.controller->completions(), 3u);
}

// A unit controller that keeps history in a fresh SQLite file.
class UnitControllerHistory : public velmocair::testing::HistoryFile {
 protected:
  void SetUp() override {
    HistoryFile::SetUp();
    auto store = open();
    ASSERT_NE(store, nullptr);
    writer_ = std::make_unique<sitehost::HistoryWriter>(std::move(store), nullptr);
    controller_ = std::make_shared<sitehost::UnitController>(
        sitehost::HostServices{publisher_, thresholds_, writer_.get()});
    device_.Init(controller_, kDataId, Json::Value(Json::objectValue));
    record_[0] = kDataId;
  }
  void TearDown() override {
    writer_.reset();
    HistoryFile::TearDown();
  }

  bool load() { return device_.LoadFromCache(record_.data(), static_cast<int>(record_.size())); }

  std::optional<sitehost::HistoryRow> newest_row() {
    writer_->stop();
    auto store = open(sitehost::HistoryStore::Access::read_only);
    std::string error;
    return store != nullptr ? store->newest(kDataId, error) : std::nullopt;
  }

  sitehost::Publisher publisher_;
  sitehost::ThresholdService thresholds_{nullptr};
  std::unique_ptr<sitehost::HistoryWriter> writer_;
  std::shared_ptr<sitehost::UnitController> controller_;
  VelmocairProbe device_;
  std::vector<unsigned char> record_ = std::vector<unsigned char>(kRecordSize, 0);
};

TEST_F(UnitControllerHistory, StoresNoRowWhileStoringIsOffButStillPublishesAndEvaluates) {
  controller_->set_storing(false);
  record_[kHighTemperatureByte] = 1;
  ASSERT_TRUE(load());
  EXPECT_TRUE(publisher_.latest(kDataId)) << "the record is still published";
  EXPECT_EQ(thresholds_.last_state(kDataId, kHighTemperatureIndex), true)
      << "its alarms are still evaluated";
  EXPECT_EQ(controller_->completions(), 1u);

  controller_->set_storing(true);
  record_[kHighTemperatureByte] = 0;
  ASSERT_TRUE(load());
  const std::optional<sitehost::HistoryRow> newest = newest_row();
  ASSERT_TRUE(newest);
  EXPECT_EQ(newest->id, 1) << "only the completion with storing on wrote a row";
  ASSERT_EQ(newest->record.size(), kRecordSize);
  EXPECT_EQ(newest->record[kHighTemperatureByte], 0);
}

TEST(UnitController, ReadsOnlyLeaveTheRequestForTheBus) {
  Fixture fixture;
  fixture.device.RefreshStatus();
  EXPECT_TRUE(fixture.device.IsProcessing());
  EXPECT_EQ(fixture.device.pending_request().kind, ModbusRequest::read_bits);
  EXPECT_EQ(fixture.device.pending_request().address, 8001);
  EXPECT_EQ(fixture.device.pending_request().count, 32);
  EXPECT_FALSE(fixture.publisher.latest(kDataId));
}

}  // namespace
