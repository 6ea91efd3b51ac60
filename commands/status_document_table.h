#pragma once

#include <cstddef>
#include <iterator>

#include "alarms/alarm_table.h"
#include "commands/constexpr_text.h"
#include "device/poll_cycle_table.h"

// The status document: its groups, the members of each with the record
// bytes they show, and the order in which a build assigns them.
namespace velmocair::status {

// Top-level keys.
inline constexpr char kIndoor[] = "室内机组状态";
inline constexpr char kSystem1[] = "系统1状态";
inline constexpr char kSystem2[] = "系统2状态";
inline constexpr char kOutdoor1[] = "室外机1状态";
inline constexpr char kOutdoor2[] = "室外机2状态";
inline constexpr char kSettings[] = "参数设定";
inline constexpr char kPump1[] = "泵柜1状态";
inline constexpr char kPump2[] = "泵柜2状态";
inline constexpr char kUpdateTime[] = "更新时间";

// The boolean map of a group's alarms, and the texts of the value rules.
inline constexpr char kAlertArray[] = "AlertArray";
inline constexpr char kInvalid[] = "无效值";
inline constexpr char kAlarmNormal[] = "正常";
inline constexpr char kAlarmActive[] = "告警";

struct RegisterAddress {
  int value;
};
constexpr RegisterAddress reg(int address) { return {address}; }

// The Modbus point a member's record bytes image: a coil's byte or a
// register's word.
struct Source {
  ReadKind kind = ReadKind::coils;
  int address = 0;

  constexpr Source() = default;
  constexpr Source(CoilAddress coil_address)  // NOLINT: rows name the point
      : kind(ReadKind::coils), address(coil_address.value) {}
  constexpr Source(RegisterAddress register_address)  // NOLINT: rows name the point
      : kind(ReadKind::registers), address(register_address.value) {}
};

// Texts by value; a value without a text shows "无效值".
struct StateTexts {
  const char* for0 = nullptr;
  const char* for1 = nullptr;
  const char* for2 = nullptr;  // power-feed states only
};
constexpr StateTexts texts(const char* for0, const char* for1) { return {for0, for1, nullptr}; }
inline constexpr StateTexts kPowerFeed{"分闸", "合闸", "脱扣"};

enum class Scale : unsigned char { unit, tenths };
inline constexpr Scale kUnit = Scale::unit;
inline constexpr Scale kTenths = Scale::tenths;

struct StateRow {
  int row;
  const char* group;
  const char* key;
  RecordOffset offset;
  Source source;
  StateTexts texts;
};

struct NumberRow {
  int row;
  const char* group;
  const char* key;
  RecordOffset offset;
  RegisterAddress source;
  Scale scale;
};

struct AlarmRow {
  RecordOffset offset;
  CoilAddress coil;
  const char* key;
};

// Alarm rows of two units of one kind; the keys differ in one row only.
struct AlarmKeys {
  const char* first;
  const char* second;
};
constexpr AlarmKeys both(const char* key) { return {key, key}; }
constexpr AlarmKeys each(const char* first, const char* second) { return {first, second}; }

struct AlarmPairRow {
  AlarmKeys keys;
  RecordOffset offset1;
  CoilAddress coil1;
  RecordOffset offset2;
  CoilAddress coil2;
};

// Table 1, state texts.
// clang-format off
// row  group      key                           offset   source      texts for 0, 1 (and 2)
inline constexpr StateRow kStateTexts[] = {
    { 1, kIndoor,   "开/关状态",                  at(  4), coil(8001), texts("关机", "开机")},
    { 2, kIndoor,   "加湿器",                     at(  7), coil(8004), texts("停止", "开启")},
    { 3, kIndoor,   "电加热1",                    at(  8), coil(8005), texts("停止", "开启")},
    { 4, kIndoor,   "电加热2",                    at(  9), coil(8006), texts("停止", "开启")},
    { 5, kIndoor,   "送风机控制",                 at( 10), coil(8007), texts("停止", "开启")},
    { 6, kIndoor,   "远程开关",                   at( 13), coil(8010), texts("停止", "开启")},
    { 7, kIndoor,   "冷凝水泵",                   at( 17), coil(8014), texts("停止", "开启")},
    { 8, kIndoor,   "系统运行模式-停机",          at( 79), reg(8001),  texts("否", "是")},
    { 9, kIndoor,   "系统运行模式-制冷",          at( 81), reg(8002),  texts("否", "是")},
    {10, kIndoor,   "系统运行模式-制热",          at( 83), reg(8003),  texts("否", "是")},
    {11, kIndoor,   "系统运行模式-加湿",          at( 85), reg(8004),  texts("否", "是")},
    {12, kIndoor,   "系统运行模式-除湿",          at( 87), reg(8005),  texts("否", "是")},
    {13, kIndoor,   "系统运行模式-待机",          at( 89), reg(8006),  texts("否", "是")},
    {14, kIndoor,   "系统运行模式-故障停机",      at( 91), reg(8007),  texts("无停机故障", "有停机故障")},
    {15, kIndoor,   "系统运行模式-手动关机",      at( 93), reg(8008),  texts("远程关机", "线控器")},
    {16, kIndoor,   "系统运行模式-主/备",         at( 95), reg(8009),  texts("主", "备")},
    {17, kIndoor,   "系统运行模式-断网",          at( 97), reg(8010),  texts("否", "是")},
    {18, kIndoor,   "系统运行模式-干接点关机",    at( 99), reg(8011),  texts("否", "是")},
    {19, kIndoor,   "A路电源状态",                at(143), reg(8033),  kPowerFeed},
    {20, kIndoor,   "B路电源状态",                at(145), reg(8034),  kPowerFeed},
    {21, kSystem1,  "压缩机控制",                 at(185), coil(8131), texts("关闭", "开启")},
    {22, kOutdoor1, "水流开关",                   at(247), coil(8502), texts("关闭", "开启")},
    {23, kOutdoor2, "水流开关",                   at(291), coil(8534), texts("关闭", "开启")},
    {24, kSettings, "开/关机",                    at(350), reg(3509),  texts("关机", "开机")},
    {25, kSettings, "本地操作",                   at(352), reg(3510),  texts("允许", "禁止")},
};
// clang-format on
static_assert(std::size(kStateTexts) == 25, "table 1 has 25 rows");

// Table 2, numbers (words, unsigned).
// clang-format off
// row  group      key                           offset   source      scale
inline constexpr NumberRow kNumbers[] = {
    { 1, kIndoor,   "送风温度",                   at( 83), reg(8003), kTenths},
    { 2, kIndoor,   "室内温度",                   at( 85), reg(8004), kTenths},
    { 3, kIndoor,   "回风温度",                   at( 87), reg(8005), kTenths},
    { 4, kIndoor,   "回风湿度",                   at( 89), reg(8006), kTenths},
    { 5, kIndoor,   "机组累计运行时间",           at( 91), reg(8007), kUnit},
    { 6, kIndoor,   "电源电压",                   at(105), reg(8014), kUnit},
    { 7, kIndoor,   "送风湿度",                   at(107), reg(8015), kTenths},
    { 8, kIndoor,   "加湿器运行时间",             at(117), reg(8020), kUnit},
    { 9, kIndoor,   "滤网运行时间",               at(119), reg(8021), kUnit},
    {10, kIndoor,   "平均温度",                   at(121), reg(8022), kTenths},
    {11, kIndoor,   "平均湿度",                   at(123), reg(8023), kTenths},
    {12, kIndoor,   "内风机控制转速1",            at(125), reg(8024), kUnit},
    {13, kIndoor,   "内风机控制转速2",            at(127), reg(8025), kUnit},
    {14, kIndoor,   "内风机控制转速3",            at(129), reg(8026), kUnit},
    {15, kIndoor,   "电加热1累计运行时间",        at(137), reg(8030), kUnit},
    {16, kIndoor,   "电加热2累计运行时间",        at(139), reg(8031), kUnit},
    {17, kIndoor,   "风压差",                     at(141), reg(8032), kUnit},
    {18, kIndoor,   "压机子模式累计运行时间",     at(147), reg(8035), kUnit},
    {19, kIndoor,   "混合子模式累计运行时间",     at(149), reg(8036), kUnit},
    {20, kIndoor,   "氟泵子模式累计运行时间",     at(151), reg(8037), kUnit},
    {21, kIndoor,   "机组制冷量",                 at(153), reg(8038), kTenths},
    {22, kSystem1,  "系统吸气温度值",             at(186), reg(8101), kTenths},
    {23, kSystem1,  "系统EEV开度值",              at(190), reg(8103), kUnit},
    {24, kSystem1,  "压机运行频率",               at(194), reg(8105), kUnit},
    {25, kSystem1,  "吸气压力",                   at(198), reg(8107), kTenths},
    {26, kSystem1,  "压机运行时间",               at(204), reg(8110), kUnit},
    {27, kSystem2,  "系统吸气温度值",             at(226), reg(8133), kTenths},
    {28, kSystem2,  "系统EEV开度值",              at(230), reg(8135), kUnit},
    {29, kSystem2,  "压机运行频率",               at(234), reg(8137), kUnit},
    {30, kOutdoor1, "出水水温",                   at(278), reg(8501), kTenths},
    {31, kOutdoor1, "外风机转速",                 at(280), reg(8502), kUnit},
    {32, kOutdoor1, "进水水温",                   at(284), reg(8504), kTenths},
    {33, kOutdoor1, "冷凝压力",                   at(286), reg(8505), kTenths},
    {34, kOutdoor1, "比例水阀开度",               at(288), reg(8506), kUnit},
    {35, kOutdoor2, "出水水温",                   at(322), reg(8509), kTenths},
    {36, kOutdoor2, "外风机转速",                 at(324), reg(8510), kUnit},
    {37, kOutdoor2, "进水水温",                   at(328), reg(8512), kTenths},
    {38, kOutdoor2, "冷凝压力",                   at(330), reg(8513), kTenths},
    {39, kOutdoor2, "比例水阀开度",               at(332), reg(8514), kUnit},
    {40, kSettings, "回风温度设定值",             at(334), reg(3501), kTenths},
    {41, kSettings, "出风温度设定值",             at(336), reg(3502), kTenths},
    {42, kSettings, "远程温度设定值",             at(338), reg(3503), kTenths},
    {43, kSettings, "设定湿度",                   at(340), reg(3504), kTenths},
    {44, kSettings, "高温报警",                   at(342), reg(3505), kTenths},
    {45, kSettings, "低温报警",                   at(344), reg(3506), kTenths},
    {46, kSettings, "高湿报警",                   at(346), reg(3507), kTenths},
    {47, kSettings, "低湿报警",                   at(348), reg(3508), kTenths},
    {48, kSettings, "启动延时",                   at(356), reg(3512), kUnit},
    {49, kSettings, "送风高温告警值",             at(358), reg(3513), kTenths},
    {50, kSettings, "送风低温告警值",             at(360), reg(3514), kTenths},
    {51, kPump1,    "氟泵实际转速",               at(394), reg(8205), kUnit},
    {52, kPump1,    "氟泵累计运行时间",           at(396), reg(8206), kUnit},
    {53, kPump2,    "氟泵实际转速",               at(430), reg(8221), kUnit},
    {54, kPump2,    "氟泵累计运行时间",           at(432), reg(8222), kUnit},
};
// clang-format on
static_assert(std::size(kNumbers) == 54, "table 2 has 54 rows");

// The numbers of system 2 beyond table 2: the words at the positions of
// system 1's "吸气压力" and "压机运行时间" in system 2's register block.
// clang-format off
// row  group      key                           offset   source      scale
inline constexpr NumberRow kSystem2MirroredNumbers[] = {
    { 1, kSystem2,  "吸气压力",                   at(238), reg(8139), kTenths},
    { 2, kSystem2,  "压机运行时间",               at(244), reg(8142), kUnit},
};
// clang-format on
static_assert(std::size(kSystem2MirroredNumbers) == 2);

// Table 3, alarms of the indoor unit.
// clang-format off
// offset   coil        key
inline constexpr AlarmRow kIndoorAlarms[] = {
    {at( 20), coil(8017), "电源故障/A路电源故障"},
    {at( 21), coil(8018), "相序错误"},
    {at( 22), coil(8019), "缺相错误"},
    {at( 23), coil(8020), "电加热保护"},
    {at( 24), coil(8021), "加湿器报警"},
    {at( 25), coil(8022), "烟雾报警"},
    {at( 26), coil(8023), "水浸报警"},
    {at( 27), coil(8024), "湿膜低水位报警"},
    {at( 28), coil(8025), "湿膜水位开关故障"},
    {at( 29), coil(8026), "EEPROM故障"},
    {at( 32), coil(8029), "本地联网通讯故障"},
    {at( 33), coil(8030), "扩展板通讯故障"},
    {at( 34), coil(8031), "远程内温探头故障"},
    {at( 35), coil(8032), "滤网堵塞报警"},
    {at( 36), coil(8033), "风机1故障/转速反馈故障"},
    {at( 37), coil(8034), "风机2故障/转速反馈故障"},
    {at( 38), coil(8035), "风机3故障/转速反馈故障"},
    {at( 39), coil(8036), "风机4故障/转速反馈故障"},
    {at( 40), coil(8037), "风机5故障/转速反馈故障"},
    {at( 41), coil(8038), "风机6故障/转速反馈故障"},
    {at( 42), coil(8039), "风机7故障/转速反馈故障"},
    {at( 43), coil(8040), "风机8故障/转速反馈故障"},
    {at( 44), coil(8041), "风机过载故障"},
    {at( 45), coil(8042), "气流丢失故障"},
    {at( 46), coil(8043), "高温报警"},
    {at( 47), coil(8044), "低温报警"},
    {at( 48), coil(8045), "高湿报警"},
    {at( 49), coil(8046), "低湿报警"},
    {at( 50), coil(8047), "送风高温报警"},
    {at( 51), coil(8048), "送风低温报警"},
    {at( 52), coil(8049), "回风温度探头1故障"},
    {at( 53), coil(8050), "回风温度探头2故障"},
    {at( 54), coil(8051), "回风温度探头3故障"},
    {at( 55), coil(8052), "回风湿度探头故障"},
    {at( 56), coil(8053), "送风温度1探头故障"},
    {at( 57), coil(8054), "送风温度2探头故障"},
    {at( 58), coil(8055), "送风温度3探头故障"},
    {at( 59), coil(8056), "送风湿度探头故障"},
    {at( 60), coil(8057), "系统排水故障"},
    {at( 61), coil(8058), "风压差传感器故障"},
    {at( 62), coil(8059), "加湿器运行时间超限"},
    {at( 63), coil(8060), "冷凝水高水位保护"},
    {at( 65), coil(8062), "滤网维护"},
    {at( 66), coil(8063), "智能电表通讯故障"},
    {at( 68), coil(8065), "风机9故障/转速反馈故障"},
    {at( 69), coil(8066), "风机10故障/转速反馈故障"},
    {at( 70), coil(8067), "风机11故障/转速反馈故障"},
    {at( 71), coil(8068), "风机12故障/转速反馈故障"},
    {at( 72), coil(8069), "风机13故障/转速反馈故障"},
    {at( 73), coil(8070), "风机14故障/转速反馈故障"},
    {at( 74), coil(8071), "风机15故障/转速反馈故障"},
    {at( 75), coil(8072), "风机16故障/转速反馈故障"},
    {at( 76), coil(8073), "B路电源故障"},
    {at( 77), coil(8074), "内机与电源板通讯故障"},
    {at( 78), coil(8075), "内机与ATS通讯故障"},
};
// clang-format on
static_assert(std::size(kIndoorAlarms) == 55, "table 3 has 55 rows");

// An alarm shown from a register word instead of a coil.
struct WordAlarmRow {
  RecordOffset offset;
  RegisterAddress source;
  const char* key;
};

// The indoor smoke alarm once more, from the cooling run-mode word; it
// replaces the value from coil 8022.
inline constexpr WordAlarmRow kSmokeFromRunMode{at(81), reg(8002), "烟雾报警"};

// Table 4, alarms of refrigerant systems 1 and 2.
// clang-format off
// keys: system 1, system 2                                  system 1 offset, coil   system 2 offset, coil
inline constexpr AlarmPairRow kSystemAlarms[] = {
    {both("系统高压保护"),                                    at(155), coil(8101), at(206), coil(8133)},
    {both("系统低压保护"),                                    at(156), coil(8102), at(207), coil(8134)},
    {both("高压开关故障"),                                    at(157), coil(8103), at(208), coil(8135)},
    {both("低压开关故障"),                                    at(158), coil(8104), at(209), coil(8136)},
    {both("内管温探头故障"),                                  at(159), coil(8105), at(210), coil(8137)},
    {both("排气温度探头故障"),                                at(160), coil(8106), at(211), coil(8138)},
    {both("系统变频驱动故障"),                                at(161), coil(8107), at(212), coil(8139)},
    {both("系统变频驱动通讯故障"),                            at(162), coil(8108), at(213), coil(8140)},
    {both("系统压力传感器故障"),                              at(163), coil(8109), at(214), coil(8141)},
    {both("系统吸气温感故障"),                                at(164), coil(8110), at(215), coil(8142)},
    {both("压缩机故障"),                                      at(166), coil(8112), at(217), coil(8144)},
    {each("排气高温保护(锁定)", "排气高温保护（锁定）"),      at(167), coil(8113), at(218), coil(8145)},
    {both("盘管冻结报警"),                                    at(172), coil(8118), at(223), coil(8150)},
    {both("冷媒泄漏/不足报警"),                               at(174), coil(8120), at(225), coil(8152)},
};
// clang-format on
static_assert(std::size(kSystemAlarms) == 14, "table 4 has 14 rows");

// Table 5, alarms of outdoor units 1 and 2.
// clang-format off
// keys                                                              unit 1 offset, coil     unit 2 offset, coil
inline constexpr AlarmPairRow kOutdoorAlarms[] = {
    {both("外风机驱动1通讯故障"),                                      at(249), coil(8504), at(293), coil(8536)},
    {both("室外温度传感器故障"),                                       at(250), coil(8505), at(294), coil(8537)},
    {both("压力传感器故障"),                                           at(251), coil(8506), at(295), coil(8538)},
    {both("系统高压保护(锁定)"),                                       at(252), coil(8507), at(296), coil(8539)},
    {both("系统低压保护(锁定)"),                                       at(253), coil(8508), at(297), coil(8540)},
    {both("机架：液管温感故障/非机架（水冷）出水温度过高告警"),        at(254), coil(8509), at(298), coil(8541)},
    {both("机架:外管温温感1故障/非机架（水冷）出水温度过低告警"),      at(255), coil(8510), at(299), coil(8542)},
    {both("机架:外管网温感2故障/非机架（水冷）：冷却水低流量保护"),    at(256), coil(8511), at(300), coil(8543)},
    {both("变频驱动故障/外风机1故障"),                                 at(257), coil(8512), at(301), coil(8544)},
    {both("风机过热保护/外风机2故障"),                                 at(258), coil(8513), at(302), coil(8545)},
    {both("机架：压缩机过流保护/非机架：进水温度传感器故障"),          at(259), coil(8514), at(303), coil(8546)},
    {both("出水温度传感器故障"),                                       at(260), coil(8515), at(304), coil(8547)},
    {both("非机架（水冷）：进水温度过高告警"),                         at(262), coil(8517), at(306), coil(8549)},
    {both("非机架（水冷）：进水温度过低告警"),                         at(263), coil(8518), at(307), coil(8550)},
    {both("非机架（水冷）：冷却水防冻保护"),                           at(265), coil(8520), at(309), coil(8552)},
    {both("外机与扩展板通讯故障"),                                     at(269), coil(8524), at(313), coil(8556)},
    {both("喷淋水泵进口压力传感器故障"),                               at(270), coil(8525), at(314), coil(8557)},
    {both("喷淋水泵出口压力传感器故障"),                               at(271), coil(8526), at(315), coil(8558)},
    {both("喷淋水泵故障"),                                             at(272), coil(8527), at(316), coil(8559)},
    {both("喷淋水泵进水压力过低告警"),                                 at(273), coil(8528), at(317), coil(8560)},
    {both("外风机驱动2通讯故障"),                                      at(274), coil(8529), at(318), coil(8561)},
    {both("与室内机通讯故障"),                                         at(277), coil(8532), at(321), coil(8564)},
};
// clang-format on
static_assert(std::size(kOutdoorAlarms) == 22, "table 5 has 22 rows");

// Table 6, alarms of pump cabinets 1 and 2.
// clang-format off
// keys                                   cabinet 1 offset, coil   cabinet 2 offset, coil
inline constexpr AlarmPairRow kPumpAlarms[] = {
    {both("泵柜环温传感器故障"),            at(363), coil(8202), at(399), coil(8234)},
    {both("氟泵入口压力传感器故障"),        at(364), coil(8203), at(400), coil(8235)},
    {both("氟泵出口压力传感器故障"),        at(365), coil(8204), at(401), coil(8236)},
    {both("泵柜相序保护"),                  at(366), coil(8205), at(402), coil(8237)},
    {both("泵柜驱动器故障"),                at(367), coil(8206), at(403), coil(8238)},
    {both("泵柜驱动器通讯故障"),            at(368), coil(8207), at(404), coil(8239)},
    {both("氟泵高扬程锁定告警"),            at(372), coil(8211), at(408), coil(8243)},
    {both("氟泵低扬程锁定告警"),            at(373), coil(8212), at(409), coil(8244)},
    {both("氟泵过温锁定告警"),              at(374), coil(8213), at(410), coil(8245)},
    {both("氟泵入口温度传感器故障"),        at(375), coil(8214), at(411), coil(8246)},
    {both("与室内机通讯故障"),              at(393), coil(8232), at(429), coil(8264)},
};
// clang-format on
static_assert(std::size(kPumpAlarms) == 11, "table 6 has 11 rows");

// One assignment of a build: a group's member, its source and its rule.
enum class Rule : unsigned char { state_text, number, alarm };

struct Member {
  const char* group = nullptr;
  const char* key = nullptr;
  RecordOffset offset{0};
  Source source{};
  Rule rule = Rule::number;
  StateTexts texts{};   // state_text only
  Scale scale = kUnit;  // number only
};

enum class Column : unsigned char { first, second };

// The assignments of a build, collected in order from the tables' rows.
template <std::size_t Capacity>
struct MemberPlan {
  Member members[Capacity]{};
  std::size_t count = 0;

  constexpr const Member* begin() const { return members; }
  constexpr const Member* end() const { return members + count; }

  constexpr void add(const Member& member) { members[count++] = member; }

  // Rows first..last of table 1.
  constexpr void states(int first, int last) {
    for (const StateRow& row : kStateTexts) {
      if (row.row >= first && row.row <= last) {
        add({row.group, row.key, row.offset, row.source, Rule::state_text, row.texts, kUnit});
      }
    }
  }

  // Rows first..last of a number table.
  template <std::size_t N>
  constexpr void numbers(const NumberRow (&table)[N], int first, int last) {
    for (const NumberRow& row : table) {
      if (row.row >= first && row.row <= last) {
        add({row.group, row.key, row.offset, row.source, Rule::number, {}, row.scale});
      }
    }
  }

  template <std::size_t N>
  constexpr void alarms(const char* group, const AlarmRow (&table)[N]) {
    for (const AlarmRow& row : table) {
      add({group, row.key, row.offset, row.coil, Rule::alarm, {}, kUnit});
    }
  }

  // One unit's column of a table of two units.
  template <std::size_t N>
  constexpr void alarms(const char* group, const AlarmPairRow (&table)[N], Column column) {
    for (const AlarmPairRow& row : table) {
      const bool first = column == Column::first;
      const char* const key = first ? row.keys.first : row.keys.second;
      const RecordOffset offset = first ? row.offset1 : row.offset2;
      const CoilAddress coil_address = first ? row.coil1 : row.coil2;
      add({group, key, offset, coil_address, Rule::alarm, {}, kUnit});
    }
  }

  constexpr void smoke_from_run_mode() {
    add({kIndoor,
         kSmokeFromRunMode.key,
         kSmokeFromRunMode.offset,
         kSmokeFromRunMode.source,
         Rule::alarm,
         {},
         kUnit});
  }
};

inline constexpr std::size_t kStatusMemberCount =
    std::size(kStateTexts) + std::size(kNumbers) + std::size(kSystem2MirroredNumbers) +
    std::size(kIndoorAlarms) + 1 + 2 * std::size(kSystemAlarms) + 2 * std::size(kOutdoorAlarms) +
    2 * std::size(kPumpAlarms);

// The order of assignment; "更新时间" follows as the last assignment.
constexpr MemberPlan<kStatusMemberCount> plan_status_document() {
  MemberPlan<kStatusMemberCount> plan;
  plan.states(1, 7);
  plan.alarms(kIndoor, kIndoorAlarms);
  plan.states(8, 18);
  plan.smoke_from_run_mode();
  plan.numbers(kNumbers, 1, 17);
  plan.states(19, 20);
  plan.numbers(kNumbers, 18, 21);

  plan.alarms(kSystem1, kSystemAlarms, Column::first);
  plan.states(21, 21);
  plan.numbers(kNumbers, 22, 26);

  plan.alarms(kSystem2, kSystemAlarms, Column::second);
  plan.numbers(kNumbers, 27, 29);
  plan.numbers(kSystem2MirroredNumbers, 1, 2);

  plan.states(22, 22);
  plan.alarms(kOutdoor1, kOutdoorAlarms, Column::first);
  plan.numbers(kNumbers, 30, 34);

  plan.states(23, 23);
  plan.alarms(kOutdoor2, kOutdoorAlarms, Column::second);
  plan.numbers(kNumbers, 35, 39);

  plan.numbers(kNumbers, 40, 47);
  plan.states(24, 25);
  plan.numbers(kNumbers, 48, 50);

  plan.alarms(kPump1, kPumpAlarms, Column::first);
  plan.numbers(kNumbers, 51, 52);

  plan.alarms(kPump2, kPumpAlarms, Column::second);
  plan.numbers(kNumbers, 53, 54);
  return plan;
}

inline constexpr MemberPlan<kStatusMemberCount> kStatusDocument = plan_status_document();

namespace status_table_checks {

template <class Row, std::size_t N>
constexpr bool rows_count_from_one(const Row (&table)[N]) {
  for (std::size_t i = 0; i < N; ++i) {
    if (table[i].row != static_cast<int>(i) + 1) {
      return false;
    }
  }
  return true;
}

constexpr bool same_member(const Member& member, const char* group, const char* key,
                           RecordOffset offset) {
  return member.offset.value == offset.value && same_text(member.key, key) &&
         same_text(member.group, group);
}

// Whether the plan assigns exactly this member, once.
constexpr bool planned_once(const char* group, const char* key, RecordOffset offset) {
  int found = 0;
  for (const Member& member : kStatusDocument) {
    found += same_member(member, group, key, offset) ? 1 : 0;
  }
  return found == 1;
}

template <class Row, std::size_t N>
constexpr bool every_row_is_planned_once(const Row (&table)[N]) {
  for (const Row& row : table) {
    if (!planned_once(row.group, row.key, row.offset)) {
      return false;
    }
  }
  return true;
}

template <std::size_t N>
constexpr bool every_row_is_planned_once(const char* group, const AlarmRow (&table)[N]) {
  for (const AlarmRow& row : table) {
    if (!planned_once(group, row.key, row.offset)) {
      return false;
    }
  }
  return true;
}

template <std::size_t N>
constexpr bool every_row_is_planned_once(const char* first_group, const char* second_group,
                                         const AlarmPairRow (&table)[N]) {
  for (const AlarmPairRow& row : table) {
    if (!planned_once(first_group, row.keys.first, row.offset1) ||
        !planned_once(second_group, row.keys.second, row.offset2)) {
      return false;
    }
  }
  return true;
}

constexpr bool offsets_image_their_sources() {
  for (const Member& member : kStatusDocument) {
    if (address_at(member.source.kind, member.offset.value) != member.source.address) {
      return false;
    }
  }
  return true;
}

// Keys are unique within a group, but for the smoke alarm's second source.
constexpr bool keys_are_unique_but_for_the_smoke_alarm() {
  int repeats = 0;
  for (std::size_t i = 0; i < kStatusDocument.count; ++i) {
    const Member& member = kStatusDocument.members[i];
    for (std::size_t j = 0; j < i; ++j) {
      const Member& earlier = kStatusDocument.members[j];
      if (same_text(member.key, earlier.key) && same_text(member.group, earlier.group)) {
        if (!same_text(member.group, kIndoor) || !same_text(member.key, kSmokeFromRunMode.key) ||
            member.rule != Rule::alarm || earlier.rule != Rule::alarm) {
          return false;
        }
        ++repeats;
      }
    }
  }
  return repeats == 1;
}

// The alarm rows are the alarm points of the alarm evaluation, in its order.
constexpr bool alarms_are_the_alarm_points() {
  std::size_t next = 0;
  for (const Member& member : kStatusDocument) {
    if (member.rule != Rule::alarm || member.source.kind != ReadKind::coils) {
      continue;
    }
    if (next == std::size(kAlarmTable)) {
      return false;
    }
    const AlarmEntry& entry = kAlarmTable[next++];
    if (member.offset.value != entry.offset.value || member.source.address != entry.coil.value ||
        !same_text(member.key, entry.text)) {
      return false;
    }
  }
  return next == std::size(kAlarmTable);
}

static_assert(rows_count_from_one(kStateTexts) && rows_count_from_one(kNumbers) &&
                  rows_count_from_one(kSystem2MirroredNumbers),
              "rows are numbered as in the text");
static_assert(kStatusDocument.count == kStatusMemberCount, "the plan fills every assignment");
// Every row of every table is assigned exactly once.
static_assert(every_row_is_planned_once(kStateTexts));
static_assert(every_row_is_planned_once(kNumbers));
static_assert(every_row_is_planned_once(kSystem2MirroredNumbers));
static_assert(every_row_is_planned_once(kIndoor, kIndoorAlarms));
static_assert(planned_once(kIndoor, kSmokeFromRunMode.key, kSmokeFromRunMode.offset));
static_assert(every_row_is_planned_once(kSystem1, kSystem2, kSystemAlarms));
static_assert(every_row_is_planned_once(kOutdoor1, kOutdoor2, kOutdoorAlarms));
static_assert(every_row_is_planned_once(kPump1, kPump2, kPumpAlarms));
static_assert(offsets_image_their_sources(), "each offset images the coil or register of its row");
static_assert(keys_are_unique_but_for_the_smoke_alarm(),
              "keys are unique within their group; only the smoke alarm is assigned twice");
static_assert(alarms_are_the_alarm_points(), "the coil alarms are the 149 alarm points, in order");

}  // namespace status_table_checks

}  // namespace velmocair::status
