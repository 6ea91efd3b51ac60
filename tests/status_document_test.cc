// The status document of codes 801 and 803: every member of every group
// checked against the document's own tables (read from their text in
// tests/data, not from the plug-in's tables), the value rules, the lazy
// rebuild, and the output buffers.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_unit.h"

namespace {

using boost::posix_time::ptime;
using boost::posix_time::seconds;

constexpr std::size_t kRecordSize = sizeof(Velmocair_Data_t);
constexpr std::size_t kFirstDataByte = 4;
constexpr std::size_t kTimeStampOffset = 434;
constexpr const char* kUpdateTime = "更新时间";
constexpr const char* kAlertArray = "AlertArray";
constexpr const char* kIndoor = "室内机组状态";
constexpr const char* kSystem2 = "系统2状态";

// ---------------------------------------------------------------------------
// The document as its tables describe it.

enum class Rule { state_text, number, alarm };

struct Expected {
  Rule rule;
  std::size_t offset;
  bool word;                       // a register word, else a coil byte
  std::vector<std::string> texts;  // state_text: texts for 0, 1 (and 2)
  bool tenths = false;             // number: ÷ 10
  std::string row;                 // where the expectation comes from
};

using GroupModel = std::map<std::string, Expected>;
using DocumentModel = std::map<std::string, GroupModel>;

std::string trim(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  const auto last = text.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

std::string unquote(const std::string& cell) {
  const std::string text = trim(cell);
  return text.size() >= 2 && text.front() == '"' && text.back() == '"'
             ? text.substr(1, text.size() - 2)
             : text;
}

std::vector<std::string> cells(const std::string& line) {
  std::vector<std::string> found;
  std::string cell;
  for (std::size_t i = 1; i < line.size(); ++i) {
    if (line[i] == '|') {
      found.push_back(trim(cell));
      cell.clear();
    } else {
      cell += line[i];
    }
  }
  return found;
}

// Every "quoted" text of a line, in order.
std::vector<std::string> quoted(const std::string& line) {
  std::vector<std::string> found;
  for (std::size_t open = line.find('"'); open != std::string::npos;) {
    const std::size_t close = line.find('"', open + 1);
    if (close == std::string::npos) {
      break;
    }
    found.push_back(line.substr(open + 1, close - open - 1));
    open = line.find('"', close + 1);
  }
  return found;
}

// "155 (8101)" -> 155
std::size_t offset_of(const std::string& cell) { return std::stoul(cell); }

void add(DocumentModel& model, const std::string& group, const std::string& key,
         const Expected& expected) {
  const bool inserted = model[group].emplace(key, expected).second;
  EXPECT_TRUE(inserted) << "key twice in the tables: " << group << " / " << key;
}

DocumentModel read_tables() {
  std::ifstream file(VELMOCAIR_TEST_DATA_DIR "/status_document_tables.md");
  EXPECT_TRUE(file.good()) << "status_document_tables.md not found";
  DocumentModel model;
  int table = 0;
  std::vector<std::string> groups;
  std::string line;
  while (std::getline(file, line)) {
    if (line.rfind("Table ", 0) == 0) {
      table = std::stoi(line.substr(6));
      groups = quoted(line.substr(0, line.find('(')));
      continue;
    }
    if (line.rfind("| ", 0) != 0 || line.rfind("|---", 0) == 0) {
      continue;
    }
    const std::vector<std::string> c = cells(line);
    const std::string label = "table " + std::to_string(table) + ": " + line;
    if (table == 1 && c.size() == 8 && c[0] != "Row") {
      Expected expected{Rule::state_text, std::stoul(c[3]), c[4] == "word", {}, false, label};
      expected.texts = c[6] == "power-feed rule"
                           ? std::vector<std::string>{"分闸", "合闸", "脱扣"}
                           : std::vector<std::string>{unquote(c[6]), unquote(c[7])};
      add(model, unquote(c[1]), unquote(c[2]), expected);
    } else if (table == 2 && c.size() == 6 && c[0] != "Row") {
      add(model, unquote(c[1]), unquote(c[2]),
          {Rule::number, std::stoul(c[3]), true, {}, c[5] == "÷ 10", label});
    } else if (table == 3 && c.size() == 3 && c[0] != "Offset") {
      add(model, groups.at(0), unquote(c[2]),
          {Rule::alarm, std::stoul(c[0]), false, {}, false, label});
    } else if (table >= 4 && c.size() == 3 && c[0] != "Key") {
      const std::vector<std::string> keys = quoted(c[0]);
      const std::string& second_key = keys.size() == 2 ? keys[1] : keys.at(0);
      add(model, groups.at(0), keys.at(0), {Rule::alarm, offset_of(c[1]), false, {}, false, label});
      add(model, groups.at(1), second_key, {Rule::alarm, offset_of(c[2]), false, {}, false, label});
    }
  }
  // The smoke alarm is assigned a second time, from the word at offset 81;
  // that value stays.
  model[kIndoor]["烟雾报警"] = {Rule::alarm, 81, true, {}, false, "second smoke alarm"};
  // Our choice for system 2: system 1's further numbers at the same places
  // of system 2's register block.
  add(model, kSystem2, "吸气压力", {Rule::number, 238, true, {}, true, "system 2 choice"});
  add(model, kSystem2, "压机运行时间", {Rule::number, 244, true, {}, false, "system 2 choice"});
  return model;
}

const DocumentModel& tables() {
  static const DocumentModel model = read_tables();
  return model;
}

// ---------------------------------------------------------------------------
// The value rules, applied to a record.

std::uint16_t source_value(const unsigned char* record, const Expected& expected) {
  return expected.word ? static_cast<std::uint16_t>(record[expected.offset] |
                                                    record[expected.offset + 1] << 8)
                       : record[expected.offset];
}

double tenths(std::uint16_t word) { return static_cast<double>(static_cast<float>(word) / 10.0f); }

std::string time_text(const ptime& time) {
  if (time.is_special()) {
    return "0-0-0 0:0:0";
  }
  std::ostringstream text;
  text << static_cast<int>(time.date().year()) << '-' << static_cast<int>(time.date().month())
       << '-' << time.date().day() << ' ' << time.time_of_day().hours() << ':'
       << time.time_of_day().minutes() << ':' << time.time_of_day().seconds();
  return text.str();
}

std::set<std::string> member_names(const Json::Value& object) {
  const auto names = object.getMemberNames();
  return {names.begin(), names.end()};
}

// Checks every member of `document` against the tables for `record`.
void expect_document_shows(const Json::Value& document, const unsigned char* record,
                           const std::string& when, const std::string& label) {
  SCOPED_TRACE(label);
  ASSERT_TRUE(document.isObject());
  std::set<std::string> top{kUpdateTime};
  for (const auto& [group, members] : tables()) {
    top.insert(group);
  }
  ASSERT_EQ(member_names(document), top);
  EXPECT_EQ(document[kUpdateTime], Json::Value(when));

  for (const auto& [group, members] : tables()) {
    const Json::Value& shown = document[group];
    ASSERT_TRUE(shown.isObject()) << group;
    std::set<std::string> keys;
    std::set<std::string> alarm_keys;
    for (const auto& [key, expected] : members) {
      keys.insert(key);
      if (expected.rule == Rule::alarm) {
        alarm_keys.insert(key);
      }
    }
    if (!alarm_keys.empty()) {
      keys.insert(kAlertArray);
      EXPECT_EQ(member_names(shown[kAlertArray]), alarm_keys) << group;
    }
    EXPECT_EQ(member_names(shown), keys) << group;

    for (const auto& [key, expected] : members) {
      const std::uint16_t value = source_value(record, expected);
      const std::string where =
          group + " / " + key + " (" + expected.row + "), value " + std::to_string(value);
      switch (expected.rule) {
        case Rule::state_text:
          EXPECT_EQ(shown[key],
                    Json::Value(value < expected.texts.size() ? expected.texts[value] : "无效值"))
              << where;
          break;
        case Rule::number:
          ASSERT_TRUE(shown[key].isDouble()) << where;
          EXPECT_EQ(shown[key].asDouble(), expected.tenths ? tenths(value) : value) << where;
          break;
        case Rule::alarm:
          EXPECT_EQ(shown[key], Json::Value(value != 0 ? "告警" : "正常")) << where;
          EXPECT_EQ(shown[kAlertArray][key], Json::Value(value != 0)) << where;
          break;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// A device to build documents with.

using Record = std::array<unsigned char, kRecordSize>;

Record zero_record() { return Record{}; }

struct StatusUnit {
  TestUnit unit;

  // Completes a cycle with `record` through the cache, one second after the
  // previous completion unless told otherwise.
  void complete(const Record& record) {
    unit.now += seconds(1);
    ASSERT_TRUE(unit.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
  }

  std::string text() {
    std::vector<char> out(1 << 20);
    int out_len = 0;
    EXPECT_EQ(unit.device.DeviceIoControl(801, nullptr, 0, out.data(), static_cast<int>(out.size()),
                                          out_len),
              0);
    return std::string(out.data(), static_cast<std::size_t>(out_len));
  }

  Json::Value document() {
    const std::string serialised = text();
    Json::Value parsed;
    EXPECT_TRUE(Json::Reader().parse(serialised, parsed)) << serialised;
    return parsed;
  }

  const Json::Value* reference() {
    const Json::Value* address = nullptr;
    int out_len = 0;
    EXPECT_EQ(unit.device.DeviceIoControl(803, nullptr, 0, &address, sizeof address, out_len), 0);
    return address;
  }

  // Builds from `record` and checks the whole document.
  void expect_built_from(const Record& record, const std::string& label) {
    complete(record);
    // The record as completed: the input with the completion's time stamp.
    expect_document_shows(document(), unit.device.bytes(), time_text(unit.now), label);
  }
};

void set_source(Record& record, const Expected& expected, std::uint16_t value) {
  record[expected.offset] = static_cast<unsigned char>(value & 0xFF);
  if (expected.word) {
    record[expected.offset + 1] = static_cast<unsigned char>(value >> 8);
  }
}

void set_word(Record& record, std::size_t offset, std::uint16_t value) {
  record[offset] = static_cast<unsigned char>(value & 0xFF);
  record[offset + 1] = static_cast<unsigned char>(value >> 8);
}

// ---------------------------------------------------------------------------

TEST(StatusTables, TheTablesHoldTheDocumentsShape) {
  // members per group without "AlertArray": state texts, numbers, alarms
  const std::map<std::string, std::size_t> sizes = {
      {"室内机组状态", 7 + 11 + 2 + 21 + 55},
      {"系统1状态",      14 + 1 + 5          },
      {"系统2状态",      14 + 3 + 2          },
      {"室外机1状态",   1 + 22 + 5          },
      {"室外机2状态",   1 + 22 + 5          },
      {"参数设定",       11 + 2              },
      {"泵柜1状态",      11 + 2              },
      {"泵柜2状态",      11 + 2              },
  };
  ASSERT_EQ(tables().size(), sizes.size());
  for (const auto& [group, size] : sizes) {
    ASSERT_EQ(tables().count(group), 1u) << group;
    EXPECT_EQ(tables().at(group).size(), size) << group;
  }
}

TEST(StatusDocument, BuiltFromAnAllZeroRecord) {
  StatusUnit status;
  status.expect_built_from(zero_record(), "all zero");
  const Json::Value document = status.document();
  const Json::Value& indoor = document[kIndoor];
  // The texts for 0, spelled out.
  EXPECT_EQ(indoor["开/关状态"], "关机");
  EXPECT_EQ(indoor["加湿器"], "停止");
  EXPECT_EQ(indoor["系统运行模式-停机"], "否");
  EXPECT_EQ(indoor["系统运行模式-故障停机"], "无停机故障");
  EXPECT_EQ(indoor["系统运行模式-手动关机"], "远程关机");
  EXPECT_EQ(indoor["系统运行模式-主/备"], "主");
  EXPECT_EQ(indoor["A路电源状态"], "分闸");
  EXPECT_EQ(indoor["B路电源状态"], "分闸");
  EXPECT_EQ(document["系统1状态"]["压缩机控制"], "关闭");
  EXPECT_EQ(document["参数设定"]["本地操作"], "允许");
  EXPECT_EQ(indoor["烟雾报警"], "正常");
  EXPECT_EQ(indoor[kAlertArray]["烟雾报警"], false);
  EXPECT_EQ(indoor["送风温度"], 0.0);
}

TEST(StatusDocument, BuiltFromARecordWithADistinctValueInEveryField) {
  Record record = zero_record();
  for (std::size_t i = kFirstDataByte; i < kTimeStampOffset; ++i) {
    record[i] = static_cast<unsigned char>(i * 7 + 1);
  }
  // Every word a number shows differs from every other one.
  std::set<std::uint16_t> words;
  std::size_t numbers = 0;
  for (const auto& [group, members] : tables()) {
    for (const auto& [key, expected] : members) {
      if (expected.rule == Rule::number) {
        ++numbers;
        words.insert(source_value(record.data(), expected));
      }
    }
  }
  ASSERT_EQ(words.size(), numbers);
  StatusUnit status;
  status.expect_built_from(record, "distinct values");
}

TEST(StatusDocument, BuiltFromARecordOfAllOnes) {
  Record record;
  record.fill(0xFF);
  StatusUnit status;
  status.expect_built_from(record, "all bytes 0xFF");
  const Json::Value document = status.document();
  EXPECT_EQ(document[kIndoor]["电源电压"].asDouble(), 65535.0);
  EXPECT_EQ(document[kIndoor]["送风温度"].asDouble(), 6553.5);
  EXPECT_EQ(document[kIndoor]["开/关状态"], "无效值");
  EXPECT_EQ(document[kIndoor]["A路电源状态"], "无效值");
}

// Each state and alarm source set alone to 1 and to 2: only its own members
// change, so no two rows share or swap a source by mistake.
TEST(StatusDocument, EachSourceAloneShowsInItsOwnMembersOnly) {
  StatusUnit status;
  for (const auto& [group, members] : tables()) {
    for (const auto& [key, expected] : members) {
      if (expected.rule == Rule::number) {
        continue;
      }
      for (const std::uint16_t value : {1, 2}) {
        Record record = zero_record();
        set_source(record, expected, value);
        status.expect_built_from(record, group + " / " + key + " = " + std::to_string(value));
        if (testing::Test::HasFailure()) {
          return;
        }
      }
    }
  }
}

struct ValueCase {
  const char* name;
  std::size_t offset;
  std::uint16_t word;
  const char* group;
  const char* key;
  Json::Value expected;
};

std::ostream& operator<<(std::ostream& out, const ValueCase& c) { return out << c.name; }

class StatusValue : public testing::TestWithParam<ValueCase> {};

TEST_P(StatusValue, FollowsItsRule) {
  const ValueCase& c = GetParam();
  Record record = zero_record();
  set_word(record, c.offset, c.word);
  StatusUnit status;
  status.complete(record);
  const Json::Value document = status.document();
  const Json::Value& group = document[c.group];
  const std::string key = c.key;
  const std::string prefix = std::string(kAlertArray) + "/";
  const Json::Value& shown =
      key.rfind(prefix, 0) == 0 ? group[kAlertArray][key.substr(prefix.size())] : group[key];
  EXPECT_EQ(shown, c.expected) << c.group << " / " << c.key;
}

// clang-format off
const ValueCase kValueCases[] = {
    // name                                offset  word    group          key                               shown
    {"coil of 2 as state",                   4,      2,    "室内机组状态", "开/关状态",                       Json::Value("无效值")},
    {"coil of 2 as alarm",                  20,      2,    "室内机组状态", "电源故障/A路电源故障",            Json::Value("告警")},
    {"coil of 2 in AlertArray",             20,      2,    "室内机组状态", "AlertArray/电源故障/A路电源故障", Json::Value(true)},
    {"coil of 255 as alarm",               393,    255,    "泵柜1状态",    "AlertArray/与室内机通讯故障",     Json::Value(true)},
    {"power feed A of 1",                  143,      1,    "室内机组状态", "A路电源状态",                     Json::Value("合闸")},
    {"power feed A of 2",                  143,      2,    "室内机组状态", "A路电源状态",                     Json::Value("脱扣")},
    {"power feed B of 2",                  145,      2,    "室内机组状态", "B路电源状态",                     Json::Value("脱扣")},
    {"power feed B of 3",                  145,      3,    "室内机组状态", "B路电源状态",                     Json::Value("无效值")},
    {"power feed A of 256",                143,    256,    "室内机组状态", "A路电源状态",                     Json::Value("无效值")},
    {"run mode of 1",                       79,      1,    "室内机组状态", "系统运行模式-停机",               Json::Value("是")},
    {"run mode of 2",                       79,      2,    "室内机组状态", "系统运行模式-停机",               Json::Value("无效值")},
    {"run mode of 256",                     79,    256,    "室内机组状态", "系统运行模式-停机",               Json::Value("无效值")},
    {"switch word of 1",                   350,      1,    "参数设定",     "开/关机",                         Json::Value("开机")},
    {"65535 at scale 1",                   105,  65535,    "室内机组状态", "电源电压",                        Json::Value(65535.0)},
    {"65535 at tenths",                    107,  65535,    "室内机组状态", "送风湿度",                        Json::Value(6553.5)},
    {"1 at tenths",                        334,      1,    "参数设定",     "回风温度设定值",                  Json::Value(static_cast<double>(0.1f))},
    {"253 at tenths",                      186,    253,    "系统1状态",    "系统吸气温度值",                  Json::Value(25.299999237060547)},
    {"system 2 suction pressure",          238,    253,    "系统2状态",    "吸气压力",                        Json::Value(25.299999237060547)},
    {"system 2 compressor hours",          244,    253,    "系统2状态",    "压机运行时间",                    Json::Value(253.0)},
    {"word 81 of 1 raises smoke",           81,      1,    "室内机组状态", "烟雾报警",                        Json::Value("告警")},
    {"word 81 of 1 in AlertArray",          81,      1,    "室内机组状态", "AlertArray/烟雾报警",             Json::Value(true)},
    {"word 81 of 1 means cooling",          81,      1,    "室内机组状态", "系统运行模式-制冷",               Json::Value("是")},
    {"word 81 of 5 is no cooling state",    81,      5,    "室内机组状态", "系统运行模式-制冷",               Json::Value("无效值")},
    {"word 81 of 256 raises smoke",         81,    256,    "室内机组状态", "烟雾报警",                        Json::Value("告警")},
    {"word 83 as heating",                  83,    253,    "室内机组状态", "系统运行模式-制热",               Json::Value("无效值")},
    {"word 83 as supply temperature",       83,    253,    "室内机组状态", "送风温度",                        Json::Value(25.299999237060547)},
    {"word 91 as fault state",              91,      1,    "室内机组状态", "系统运行模式-故障停机",           Json::Value("有停机故障")},
    {"word 91 as running hours",            91,      1,    "室内机组状态", "机组累计运行时间",                Json::Value(1.0)},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Table, StatusValue, testing::ValuesIn(kValueCases),
                         [](const testing::TestParamInfo<ValueCase>& info) {
                           return "case_" + std::to_string(info.index);
                         });

TEST(StatusValue, OneTenthIsTheSinglePrecisionNumberCarriedExactly) {
  Record record = zero_record();
  set_word(record, 334, 1);
  StatusUnit status;
  status.complete(record);
  const double shown = status.reference()->operator[]("参数设定")["回风温度设定值"].asDouble();
  EXPECT_EQ(shown, 0.100000001490116119384765625);
  EXPECT_NE(shown, 0.1);
}

TEST(StatusValue, TheSmokeAlarmComesFromWord81NotFromItsCoil) {
  Record coil_only = zero_record();
  coil_only[25] = 1;
  Record word_only = zero_record();
  set_word(word_only, 81, 1);
  StatusUnit status;
  status.complete(coil_only);
  Json::Value document = status.document();
  EXPECT_EQ(document[kIndoor]["烟雾报警"], "正常");
  EXPECT_EQ(document[kIndoor][kAlertArray]["烟雾报警"], false);
  status.complete(word_only);
  document = status.document();
  EXPECT_EQ(document[kIndoor]["烟雾报警"], "告警");
  EXPECT_EQ(document[kIndoor][kAlertArray]["烟雾报警"], true);
}

TEST(StatusValue, NumbersAreDoublesTextsStringsAndAlarmFlagsBooleans) {
  StatusUnit status;
  status.complete(zero_record());
  const Json::Value& document = *status.reference();
  for (const auto& [group, members] : tables()) {
    for (const auto& [key, expected] : members) {
      const Json::Value& shown = document[group][key];
      switch (expected.rule) {
        case Rule::number:
          EXPECT_EQ(shown.type(), Json::realValue) << group << " / " << key;
          break;
        case Rule::state_text:
          EXPECT_EQ(shown.type(), Json::stringValue) << group << " / " << key;
          break;
        case Rule::alarm:
          EXPECT_EQ(shown.type(), Json::stringValue) << group << " / " << key;
          EXPECT_EQ(document[group][kAlertArray][key].type(), Json::booleanValue)
              << group << " / " << key;
          break;
      }
    }
  }
}

struct TimeCase {
  ptime time;
  const char* text;
};

TEST(StatusTime, IsWrittenWithoutLeadingZeros) {
  const TimeCase cases[] = {
      {ptime(boost::gregorian::date(2021, 3,  5),  boost::posix_time::time_duration(7,  8,  9)),
       "2021-3-5 7:8:9"     },
      {ptime(boost::gregorian::date(2021, 12, 31), boost::posix_time::time_duration(23, 59, 58)),
       "2021-12-31 23:59:58"},
      {ptime(boost::gregorian::date(2000, 1,  1),  boost::posix_time::time_duration(0,  0,  0)),
       "2000-1-1 0:0:0"     },
      {ptime(boost::gregorian::date(2038, 10, 10), boost::posix_time::time_duration(10, 0,  10)),
       "2038-10-10 10:0:10" },
  };
  for (const TimeCase& c : cases) {
    StatusUnit status;
    status.unit.now = c.time;
    ASSERT_TRUE(status.unit.device.LoadFromCache(zero_record().data(), kRecordSize));
    EXPECT_EQ(status.document()[kUpdateTime], c.text);
  }
}

TEST(StatusTime, AnAllZeroTimeStampReadsZeros) {
  // A completion time without a calendar form leaves the stamp all zero.
  StatusUnit status;
  status.unit.now = ptime(boost::posix_time::pos_infin);
  ASSERT_TRUE(status.unit.device.LoadFromCache(zero_record().data(), kRecordSize));
  EXPECT_EQ(status.document()[kUpdateTime], "0-0-0 0:0:0");
}

// ---------------------------------------------------------------------------
// When the document is rebuilt.

Record with_voltage(std::uint16_t volts) {
  Record record = zero_record();
  set_word(record, 105, volts);
  return record;
}

double voltage(const Json::Value& document) { return document[kIndoor]["电源电压"].asDouble(); }

TEST(StatusRebuild, BeforeAnyCycleTheDocumentIsNull) {
  StatusUnit status;
  EXPECT_EQ(status.text(), "null\n");
  const Json::Value* document = status.reference();
  ASSERT_EQ(document, &status.unit.device.status_doc);
  EXPECT_TRUE(document->isNull());
  EXPECT_TRUE(status.unit.device.status_doc_time.is_not_a_date_time());
}

TEST(StatusRebuild, TwoRequestsWithoutACycleBetweenSeeTheSameDocument) {
  StatusUnit status;
  status.complete(with_voltage(230));
  const std::string first = status.text();
  const std::string second = status.text();
  EXPECT_EQ(first, second);
  EXPECT_NE(first, "null\n");
}

TEST(StatusRebuild, ACycleInTheSameSecondDoesNotRebuild) {
  StatusUnit status;
  status.complete(with_voltage(230));
  EXPECT_EQ(voltage(status.document()), 230.0);
  ASSERT_TRUE(status.unit.device.LoadFromCache(with_voltage(231).data(), kRecordSize));
  EXPECT_EQ(voltage(status.document()), 230.0);
  EXPECT_EQ(status.unit.device.status_doc_time, status.unit.now);
}

TEST(StatusRebuild, ALaterCycleRebuilds) {
  StatusUnit status;
  status.complete(with_voltage(230));
  EXPECT_EQ(voltage(status.document()), 230.0);
  status.complete(with_voltage(231));
  const Json::Value document = status.document();
  EXPECT_EQ(voltage(document), 231.0);
  EXPECT_EQ(document[kUpdateTime], time_text(status.unit.now));
}

TEST(StatusRebuild, AClockSetBackRebuilds) {
  StatusUnit status;
  status.complete(with_voltage(230));
  EXPECT_EQ(voltage(status.document()), 230.0);
  status.unit.now -= seconds(10);
  ASSERT_TRUE(status.unit.device.LoadFromCache(with_voltage(232).data(), kRecordSize));
  const Json::Value document = status.document();
  EXPECT_EQ(voltage(document), 232.0);
  EXPECT_EQ(document[kUpdateTime], time_text(status.unit.now));
}

TEST(StatusRebuild, APollCycleRebuildsFromItsCompletedRecord) {
  StatusUnit status;
  status.unit.now += seconds(5);
  ASSERT_EQ(status.unit.run_cycle(1, 253), 20);
  const Json::Value document = status.document();
  EXPECT_EQ(document[kIndoor]["开/关状态"], "开机");
  EXPECT_EQ(document[kIndoor]["送风温度"].asDouble(), 25.299999237060547);
  EXPECT_EQ(document[kUpdateTime], time_text(status.unit.now));
}

TEST(StatusRebuild, ACycleUnderWayDoesNotReachTheDocument) {
  StatusUnit status;
  ASSERT_EQ(status.unit.run_cycle(0, 230), 20);
  // The next cycle has refilled the first blocks when the request comes.
  status.unit.device.RefreshStatus();
  for (int block = 11; block <= 16; ++block) {
    status.unit.reply_bits(std::vector<unsigned char>(32, 1));
  }
  status.unit.reply_registers(std::vector<std::uint16_t>(38, 999));
  const Json::Value document = status.document();
  EXPECT_EQ(document[kIndoor]["开/关状态"], "关机");
  EXPECT_EQ(voltage(document), 230.0);
}

TEST(StatusRebuild, MembersStayTheSameAcrossBuilds) {
  StatusUnit status;
  Record ones;
  ones.fill(1);
  status.complete(ones);
  const Json::Value first = status.document();
  status.complete(zero_record());
  const Json::Value second = status.document();
  for (const auto& [group, members] : tables()) {
    EXPECT_EQ(member_names(first[group]), member_names(second[group])) << group;
  }
}

// ---------------------------------------------------------------------------
// The output of 801 and 803.

struct Output {
  std::vector<unsigned char> bytes = std::vector<unsigned char>(1 << 16, 0xAB);
  int out_len = -99;
  bool untouched() const {
    for (const unsigned char byte : bytes) {
      if (byte != 0xAB) {
        return false;
      }
    }
    return true;
  }
};

TEST(StatusText, IsTheCompactWriterTextOfTheDocumentInAscii) {
  StatusUnit status;
  status.complete(zero_record());
  const std::string text = status.text();
  EXPECT_EQ(text, Json::FastWriter().write(*status.reference()));
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n');
  EXPECT_EQ(text.find('\n'), text.size() - 1);
  for (const char c : text) {
    ASSERT_LT(static_cast<unsigned char>(c), 0x80) << "non-ASCII characters are escaped";
  }
  EXPECT_NE(text.find(R"("\u66f4\u65b0\u65f6\u95f4":)"), std::string::npos) << "更新时间";
}

TEST(StatusText, FitsABufferOfExactlyItsLength) {
  StatusUnit status;
  status.complete(zero_record());
  const std::string text = status.text();
  const int length = static_cast<int>(text.size());
  Output out;
  EXPECT_EQ(
      status.unit.device.DeviceIoControl(801, nullptr, 0, out.bytes.data(), length, out.out_len),
      0);
  EXPECT_EQ(out.out_len, length);
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.begin() + length), text);
  EXPECT_EQ(out.bytes[text.size()], 0xAB) << "no terminating zero";
}

TEST(StatusText, OneByteLessIsTooSmall) {
  StatusUnit status;
  status.complete(zero_record());
  const int length = static_cast<int>(status.text().size());
  for (const int capacity : {length - 1, 0, -1, INT_MIN}) {
    Output out;
    EXPECT_EQ(status.unit.device.DeviceIoControl(801, nullptr, 0, out.bytes.data(), capacity,
                                                 out.out_len),
              -1)
        << capacity;
    EXPECT_EQ(out.out_len, length) << capacity;
    EXPECT_TRUE(out.untouched()) << capacity;
  }
  int out_len = 0;
  EXPECT_EQ(status.unit.device.DeviceIoControl(801, nullptr, 0, nullptr, length, out_len), -1);
  EXPECT_EQ(out_len, length);
}

TEST(StatusText, ATooSmallBufferStillBringsTheDocumentUpToDate) {
  StatusUnit status;
  status.complete(with_voltage(230));
  int out_len = 0;
  EXPECT_EQ(status.unit.device.DeviceIoControl(801, nullptr, 0, nullptr, 0, out_len), -1);
  EXPECT_EQ(status.unit.device.status_doc_time, status.unit.now);
  EXPECT_EQ(voltage(status.unit.device.status_doc), 230.0);
  status.complete(with_voltage(231));
  EXPECT_EQ(status.unit.device.DeviceIoControl(803, nullptr, 0, nullptr, 0, out_len), -1);
  EXPECT_EQ(voltage(status.unit.device.status_doc), 231.0);
}

// The address takes the target's pointer width: 4 bytes on the 32-bit site
// controller (armhf), 8 on x86-64.
TEST(StatusReference, HandsOutTheDocumentsAddressInAPointersWidth) {
  StatusUnit status;
  status.complete(with_voltage(230));
  constexpr int kPointer = static_cast<int>(sizeof(void*));
  for (const int capacity : {kPointer - 1, 3, 0, -1, INT_MIN}) {
    Output out;
    EXPECT_EQ(status.unit.device.DeviceIoControl(803, nullptr, 0, out.bytes.data(), capacity,
                                                 out.out_len),
              -1)
        << capacity;
    EXPECT_EQ(out.out_len, kPointer) << capacity;
    EXPECT_TRUE(out.untouched()) << capacity;
  }
  Output out;
  EXPECT_EQ(
      status.unit.device.DeviceIoControl(803, nullptr, 0, out.bytes.data(), kPointer, out.out_len),
      0);
  EXPECT_EQ(out.out_len, kPointer);
  const Json::Value* address = nullptr;
  std::memcpy(&address, out.bytes.data(), sizeof address);
  EXPECT_EQ(address, &status.unit.device.status_doc);
  EXPECT_EQ(voltage(*address), 230.0);
  EXPECT_EQ(out.bytes[sizeof address], 0xAB);
}

TEST(StatusRequests, TouchNothingElseAndNeverReachTheBase) {
  StatusUnit status;
  status.complete(zero_record());
  status.unit.device.step = 17;
  status.unit.device.write_value = 240;
  status.unit.device.write_result = 3;
  status.unit.host.calls.clear();
  const char garbage[] = "not read";
  for (const int code : {801, 803}) {
    Output out;
    EXPECT_EQ(status.unit.device.DeviceIoControl(code, garbage, -5, out.bytes.data(), 1 << 16,
                                                 out.out_len),
              0);
    Output small;
    EXPECT_EQ(
        status.unit.device.DeviceIoControl(code, nullptr, 99, small.bytes.data(), 1, small.out_len),
        -1);
  }
  EXPECT_TRUE(status.unit.host.calls.empty());
  EXPECT_EQ(status.unit.device.step, 17);
  EXPECT_EQ(status.unit.device.write_value, 240);
  EXPECT_EQ(status.unit.device.write_result, 3);
}

}  // namespace
