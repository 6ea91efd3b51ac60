// The status document decoded straight from a stored record, checked leaf
// by leaf against the device's own document of the same record: the probe
// records, each state text and alarm at each of its values, numbers at the
// edges of their range, seeded random records, and a document that differs
// in one leaf being caught.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "commands/control_commands.h"
#include "commands/document_comparison.h"
#include "commands/probe_records.h"
#include "commands/record_cells.h"
#include "tests/support/test_unit.h"

namespace {

using boost::posix_time::seconds;
using velmocair::status::Cell;
using velmocair::status::CellKind;
using velmocair::status::first_difference;
using velmocair::status::LeafDifference;
using velmocair::status::Member;
using velmocair::status::RecordBytes;
using velmocair::status::RecordCells;
using velmocair::status::Rule;

// Documents a device builds, read by reference as a host reads them.
class DeviceDocuments {
 public:
  const Json::Value& of(const RecordBytes& record) {
    unit_.now += seconds(1);  // a new completion time, so the document is rebuilt
    EXPECT_TRUE(unit_.device.LoadFromCache(record.data(), static_cast<int>(record.size())));
    const Json::Value* document = nullptr;
    int length = 0;
    EXPECT_EQ(unit_.device.DeviceIoControl(velmocair::kStatusReferenceCode, nullptr, 0, &document,
                                           static_cast<int>(sizeof document), length),
              0);
    return *document;
  }

 private:
  TestUnit unit_;
};

// The difference the decoder finds between a record's cells and the
// device's document of it, as a message for a failing check.
std::string difference(RecordCells& cells, DeviceDocuments& device, const RecordBytes& record) {
  const std::optional<LeafDifference> found =
      first_difference(cells, record.data(), record.size(), device.of(record));
  return found ? difference_text(*found) : "";
}

RecordBytes with_source(const Member& member, std::uint16_t value) {
  RecordBytes record{};
  record[member.offset.value] = static_cast<unsigned char>(value & 0xFF);
  if (member.source.kind == velmocair::ReadKind::registers) {
    record[member.offset.value + 1] = static_cast<unsigned char>(value >> 8);
  }
  return record;
}

TEST(StatusCells, ProbeRecordsDecodeAsTheDevicesDocument) {
  RecordCells cells;
  DeviceDocuments device;
  const std::vector<RecordBytes> probes = velmocair::status::probe_records();
  ASSERT_EQ(probes.size(), 6u);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    EXPECT_EQ(difference(cells, device, probes[i]), "") << "probe record " << i;
  }
}

// Each state text and alarm alone at each value its source can hold that
// the rules tell apart, the others 0: the leaf reads its own source.
TEST(StatusCells, EveryStateAndAlarmAtEachOfItsValues) {
  const std::uint16_t byte_values[] = {0, 1, 2, 3, 0xFF};
  const std::uint16_t word_values[] = {0, 1, 2, 3, 0x100, 0xFFFF};
  RecordCells cells;
  DeviceDocuments device;
  int checked = 0;
  for (const Member& member : velmocair::status::kStatusDocument) {
    if (member.rule == Rule::number) {
      continue;
    }
    const bool word = member.source.kind == velmocair::ReadKind::registers;
    const std::vector<std::uint16_t> values =
        word ? std::vector<std::uint16_t>(std::begin(word_values), std::end(word_values))
             : std::vector<std::uint16_t>(std::begin(byte_values), std::end(byte_values));
    for (const std::uint16_t value : values) {
      EXPECT_EQ(difference(cells, device, with_source(member, value)), "")
          << member.group << "/" << member.key << " at offset " << member.offset.value << " = "
          << value;
      ++checked;
    }
  }
  EXPECT_GT(checked, 5 * 170) << "every state text and alarm";
}

TEST(StatusCells, NumbersAtTheEdgesOfTheirRange) {
  const std::uint16_t edges[] = {0, 1, 9, 10, 11, 99, 100, 255, 256, 32767, 32768, 65534, 65535};
  RecordCells cells;
  DeviceDocuments device;
  for (const Member& member : velmocair::status::kStatusDocument) {
    if (member.rule != Rule::number) {
      continue;
    }
    for (const std::uint16_t word : edges) {
      EXPECT_EQ(difference(cells, device, with_source(member, word)), "")
          << member.group << "/" << member.key << " = " << word;
    }
  }
}

// The text of a number is the document's number at the unit's decimals, as
// printf writes it, for every word.
TEST(StatusCells, NumberTextIsTheDocumentsNumberAtItsDecimals) {
  for (const auto scale : {velmocair::status::kUnit, velmocair::status::kTenths}) {
    const bool tenths = scale == velmocair::status::kTenths;
    for (std::uint32_t word = 0; word <= 0xFFFF; ++word) {
      Cell cell;
      cell.kind = CellKind::number;
      cell.scale = scale;
      cell.word = static_cast<std::uint16_t>(word);
      char expected[32];
      std::snprintf(expected, sizeof expected, "%.*f", tenths ? 1 : 0,
                    velmocair::status::number_value(scale, cell.word));
      char text[velmocair::status::kNumberTextCapacity];
      const std::size_t length = velmocair::status::number_text(cell, text);
      ASSERT_EQ(std::string(text, length), expected) << "word " << word << (tenths ? " ÷ 10" : "");
    }
  }
}

TEST(StatusCells, SeededRandomRecordsDecodeAsTheDevicesDocument) {
  constexpr int kRecords = 300;
  std::mt19937 random(20261208);
  // Half the bytes 0, 1 or 2, the values state texts tell apart; the others
  // anything.
  std::uniform_int_distribution<int> small(0, 2);
  std::uniform_int_distribution<int> any(0, 255);
  std::bernoulli_distribution pick_small(0.5);
  RecordCells cells;
  DeviceDocuments device;
  for (int i = 0; i < kRecords; ++i) {
    RecordBytes record{};
    for (unsigned char& byte : record) {
      byte = static_cast<unsigned char>(pick_small(random) ? small(random) : any(random));
    }
    ASSERT_EQ(difference(cells, device, record), "") << "random record " << i;
  }
}

// One leaf of the device's document changed at a time: the comparison
// names that leaf.
TEST(StatusCells, ADocumentThatDiffersInOneLeafIsCaught) {
  struct Change {
    const char* what;
    const char* path;  // the leaf reported
    std::function<void(Json::Value&)> apply;
  };
  const auto leaf = [](Json::Value& document, const std::vector<const char*>& members) {
    Json::Value* value = &document;
    for (const char* member : members) {
      value = &(*value)[member];
    }
    return value;
  };
  // clang-format off
  const Change changes[] = {
      {"another state text", "室内机组状态/开/关状态",
       [&](Json::Value& d) { *leaf(d, {"室内机组状态", "开/关状态"}) = "开机"; }},
      {"a number one step off", "室内机组状态/回风温度",
       [&](Json::Value& d) {
         Json::Value& v = *leaf(d, {"室内机组状态", "回风温度"});
         v = std::nextafter(v.asDouble(), HUGE_VAL);
       }},
      {"a number as its text", "参数设定/回风温度设定值",
       [&](Json::Value& d) {
         Json::Value& v = *leaf(d, {"参数设定", "回风温度设定值"});
         v = v.asString();
       }},
      {"a flag turned", "泵柜2状态/AlertArray/与室内机通讯故障",
       [&](Json::Value& d) {
         Json::Value& v = *leaf(d, {"泵柜2状态", "AlertArray", "与室内机通讯故障"});
         v = !v.asBool();
       }},
      {"a flag as a number", "系统1状态/AlertArray/压缩机故障",
       [&](Json::Value& d) {
         Json::Value& v = *leaf(d, {"系统1状态", "AlertArray", "压缩机故障"});
         v = v.asBool() ? 1 : 0;
       }},
      {"a leaf missing", "系统2状态/压机运行时间",
       [&](Json::Value& d) { d["系统2状态"].removeMember("压机运行时间"); }},
      {"a leaf more", "系统2状态/压缩机控制",
       [&](Json::Value& d) { d["系统2状态"]["压缩机控制"] = "关闭"; }},
      {"a time with leading zeros", "更新时间",
       [&](Json::Value& d) { d["更新时间"] = "2021-03-05 07:08:10"; }},
      {"a time that is none", "更新时间",
       [&](Json::Value& d) { d["更新时间"] = "now"; }},
      {"no document", "",
       [&](Json::Value& d) { d = Json::Value(); }},
  };
  // clang-format on
  RecordCells cells;
  DeviceDocuments device;
  const RecordBytes ramp = velmocair::status::probe_records().back();
  const Json::Value original = device.of(ramp);
  ASSERT_FALSE(first_difference(cells, ramp.data(), ramp.size(), original));
  for (const Change& change : changes) {
    Json::Value changed = original;
    change.apply(changed);
    const std::optional<LeafDifference> found =
        first_difference(cells, ramp.data(), ramp.size(), changed);
    ASSERT_TRUE(found) << change.what;
    EXPECT_EQ(found->path, change.path) << change.what << ": " << difference_text(*found);
  }
}

TEST(StatusCells, OnlyARecordOfItsOwnSizeIsDecoded) {
  RecordCells cells;
  const std::vector<unsigned char> bytes(sizeof(Velmocair_Data_t) + 1, 1);
  ASSERT_TRUE(cells.decode(bytes.data(), bytes.size() - 1));
  const std::vector<Cell> decoded = cells.cells();
  const std::vector<unsigned char> zeros(bytes.size());
  for (const std::size_t size : {std::size_t{0}, bytes.size() - 2, bytes.size()}) {
    EXPECT_FALSE(cells.decode(zeros.data(), size)) << size;
  }
  EXPECT_FALSE(cells.decode(nullptr, bytes.size() - 1));
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    EXPECT_EQ(cells.cells()[i].text, decoded[i].text) << "cells untouched";
    EXPECT_EQ(cells.cells()[i].word, decoded[i].word) << "cells untouched";
  }
  EXPECT_TRUE(first_difference(cells, bytes.data(), bytes.size(), Json::Value()));
}

// A chart decodes the few leaves it draws: they come out as a whole
// decoding makes them, and the other cells keep what they held.
TEST(StatusCells, DecodingSomeLeavesLeavesTheOthersAsTheyWere) {
  const std::vector<RecordBytes> probes = velmocair::status::probe_records();
  const RecordBytes& ramp = probes.back();
  const RecordBytes& zeros = probes.front();
  RecordCells cells;
  ASSERT_TRUE(cells.decode(ramp.data(), ramp.size()));
  const std::vector<Cell> of_ramp = cells.cells();
  ASSERT_TRUE(cells.decode(zeros.data(), zeros.size()));
  const std::vector<Cell> of_zeros = cells.cells();
  const auto& leaves = cells.leaves();
  const auto time = static_cast<std::size_t>(
      std::find_if(
          leaves.begin(), leaves.end(),
          [](const auto& leaf) { return leaf.part == velmocair::status::LeafPart::update_time; }) -
      leaves.begin());
  const std::vector<std::size_t> only = {0, 7, 140, time, of_ramp.size() - 1, of_ramp.size()};
  ASSERT_TRUE(cells.decode(ramp.data(), ramp.size(), only));
  for (std::size_t i = 0; i < of_ramp.size(); ++i) {
    const bool decoded = std::find(only.begin(), only.end(), i) != only.end();
    const Cell& expected = decoded ? of_ramp[i] : of_zeros[i];
    const Cell& cell = cells.cells()[i];
    EXPECT_TRUE(cell.text == expected.text && cell.number == expected.number &&
                cell.word == expected.word && cell.flag == expected.flag)
        << "leaf " << i << (decoded ? " decoded" : " kept");
  }
  EXPECT_FALSE(cells.decode(ramp.data(), ramp.size() - 1, only));
}

}  // namespace
