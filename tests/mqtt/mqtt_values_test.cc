// A unit's status document kept as one number per member: what the bridge
// publishes is the plug-in's document, member for member.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <random>
#include <string>

#include "cli/mqtt/unit_values.h"
#include "tests/mqtt/unit_documents.h"

namespace velmocair::mqtt {
namespace {

using testing::UnitDocuments;

Json::Value parsed(const std::string& text) {
  Json::CharReaderBuilder builder;
  Json::Value value;
  std::string errors;
  std::istringstream stream(text);
  EXPECT_TRUE(Json::parseFromStream(builder, stream, &value, &errors)) << errors << "\n" << text;
  return value;
}

// Every leaf of `expected` equals the one at the same path of `actual`,
// numbers as the single-precision values the plug-in builds them from, and
// neither has a member the other lacks.
void expect_same_document(const Json::Value& expected, const Json::Value& actual,
                          const std::string& path) {
  if (expected.isObject()) {
    ASSERT_TRUE(actual.isObject()) << path;
    EXPECT_EQ(expected.getMemberNames(), actual.getMemberNames()) << path;
    for (const std::string& key : expected.getMemberNames()) {
      expect_same_document(expected[key], actual[key], path + "/" + key);
    }
  } else if (expected.isDouble()) {
    ASSERT_TRUE(actual.isNumeric()) << path;
    EXPECT_EQ(static_cast<float>(expected.asDouble()), static_cast<float>(actual.asDouble()))
        << path;
  } else {
    EXPECT_EQ(expected, actual) << path;
  }
}

TEST(MqttUnitValues, DocumentWrittenFromTheValuesIsThePluginsDocument) {
  UnitDocuments documents;
  std::mt19937 random(7);
  std::uniform_int_distribution<int> word(0, 0xFFFF);
  std::uniform_int_distribution<int> byte(0, 2);  // 2: an invalid state, an active alarm
  for (int record = 0; record < 50; ++record) {
    UnitDocuments::Raw raw;
    for (std::size_t member = 0; member < kMemberCount; ++member) {
      const bool is_word = document_member(member).source.kind == ReadKind::registers;
      raw[member] =
          static_cast<std::uint16_t>(is_word && record % 2 == 0 ? word(random) : byte(random));
    }
    const RecordTime time = testing::at_second(record);
    const Json::Value document = documents.document(time, raw);
    SCOPED_TRACE("record " + std::to_string(record));
    const UnitValues values = extract_values(document);
    expect_same_document(document, parsed(document_text(values, time)), "");
    EXPECT_EQ(extract_values(parsed(document_text(values, time))), values);
  }
}

TEST(MqttUnitValues, MembersMissingOrOfAnotherTypeAreLeftOut) {
  UnitDocuments documents;
  Json::Value document = documents.document(testing::at_second(1));
  const std::size_t removed = member_index(status::kIndoor, "回风温度");
  const std::size_t retyped = member_index(status::kSettings, "开/关机");
  document[status::kIndoor].removeMember("回风温度");
  document[status::kSettings]["开/关机"] = 7;
  const UnitValues values = extract_values(document);
  EXPECT_FALSE(has_value(values.cells[removed]));
  EXPECT_FALSE(has_value(values.cells[retyped]));
  std::size_t present = 0;
  for (const float cell : values.cells) {
    present += has_value(cell) ? 1 : 0;
  }
  EXPECT_EQ(present, kMemberCount - 2);
  const Json::Value written = parsed(document_text(values, testing::at_second(1)));
  EXPECT_FALSE(written[status::kIndoor].isMember("回风温度"));
  EXPECT_EQ(extract_values(Json::Value("not a document")), UnitValues::absent());
}

}  // namespace
}  // namespace velmocair::mqtt
