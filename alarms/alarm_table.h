#pragma once

#include <cstddef>
#include <iterator>

#include "device/poll_cycle_table.h"

namespace velmocair {

// A record byte and the coil it images are both plain numbers; these wrappers
// make a row with the two swapped fail to compile.
struct RecordOffset {
  std::size_t value;
};
struct CoilAddress {
  int value;
};
constexpr RecordOffset at(std::size_t offset) { return {offset}; }
constexpr CoilAddress coil(int address) { return {address}; }

struct AlarmEntry {
  int index;  // the running index the host receives with the check
  RecordOffset offset;
  CoilAddress coil;
  const char* text;  // UTF-8, passed byte for byte
};

// Alarm points reported after every completed cycle, in reporting order.
// clang-format off
// index  record byte  coil  alarm text
inline constexpr AlarmEntry kAlarmTable[] = {
    // Indoor unit
    {  1, at( 20), coil(8017), "电源故障/A路电源故障"},
    {  2, at( 21), coil(8018), "相序错误"},
    {  3, at( 22), coil(8019), "缺相错误"},
    {  4, at( 23), coil(8020), "电加热保护"},
    {  5, at( 24), coil(8021), "加湿器报警"},
    {  6, at( 25), coil(8022), "烟雾报警"},
    {  7, at( 26), coil(8023), "水浸报警"},
    {  8, at( 27), coil(8024), "湿膜低水位报警"},
    {  9, at( 28), coil(8025), "湿膜水位开关故障"},
    { 10, at( 29), coil(8026), "EEPROM故障"},
    { 11, at( 32), coil(8029), "本地联网通讯故障"},
    { 12, at( 33), coil(8030), "扩展板通讯故障"},
    { 13, at( 34), coil(8031), "远程内温探头故障"},
    { 14, at( 35), coil(8032), "滤网堵塞报警"},
    { 15, at( 36), coil(8033), "风机1故障/转速反馈故障"},
    { 16, at( 37), coil(8034), "风机2故障/转速反馈故障"},
    { 17, at( 38), coil(8035), "风机3故障/转速反馈故障"},
    { 18, at( 39), coil(8036), "风机4故障/转速反馈故障"},
    { 19, at( 40), coil(8037), "风机5故障/转速反馈故障"},
    { 20, at( 41), coil(8038), "风机6故障/转速反馈故障"},
    { 21, at( 42), coil(8039), "风机7故障/转速反馈故障"},
    { 22, at( 43), coil(8040), "风机8故障/转速反馈故障"},
    { 23, at( 44), coil(8041), "风机过载故障"},
    { 24, at( 45), coil(8042), "气流丢失故障"},
    { 25, at( 46), coil(8043), "高温报警"},
    { 26, at( 47), coil(8044), "低温报警"},
    { 27, at( 48), coil(8045), "高湿报警"},
    { 28, at( 49), coil(8046), "低湿报警"},
    { 29, at( 50), coil(8047), "送风高温报警"},
    { 30, at( 51), coil(8048), "送风低温报警"},
    { 31, at( 52), coil(8049), "回风温度探头1故障"},
    { 32, at( 53), coil(8050), "回风温度探头2故障"},
    { 33, at( 54), coil(8051), "回风温度探头3故障"},
    { 34, at( 55), coil(8052), "回风湿度探头故障"},
    { 35, at( 56), coil(8053), "送风温度1探头故障"},
    { 36, at( 57), coil(8054), "送风温度2探头故障"},
    { 37, at( 58), coil(8055), "送风温度3探头故障"},
    { 38, at( 59), coil(8056), "送风湿度探头故障"},
    { 39, at( 60), coil(8057), "系统排水故障"},
    { 40, at( 61), coil(8058), "风压差传感器故障"},
    { 41, at( 62), coil(8059), "加湿器运行时间超限"},
    { 42, at( 63), coil(8060), "冷凝水高水位保护"},
    { 43, at( 65), coil(8062), "滤网维护"},
    { 44, at( 66), coil(8063), "智能电表通讯故障"},
    { 45, at( 68), coil(8065), "风机9故障/转速反馈故障"},
    { 46, at( 69), coil(8066), "风机10故障/转速反馈故障"},
    { 47, at( 70), coil(8067), "风机11故障/转速反馈故障"},
    { 48, at( 71), coil(8068), "风机12故障/转速反馈故障"},
    { 49, at( 72), coil(8069), "风机13故障/转速反馈故障"},
    { 50, at( 73), coil(8070), "风机14故障/转速反馈故障"},
    { 51, at( 74), coil(8071), "风机15故障/转速反馈故障"},
    { 52, at( 75), coil(8072), "风机16故障/转速反馈故障"},
    { 53, at( 76), coil(8073), "B路电源故障"},
    { 54, at( 77), coil(8074), "内机与电源板通讯故障"},
    { 55, at( 78), coil(8075), "内机与ATS通讯故障"},
    // Refrigerant system 1
    { 56, at(155), coil(8101), "系统高压保护"},
    { 57, at(156), coil(8102), "系统低压保护"},
    { 58, at(157), coil(8103), "高压开关故障"},
    { 59, at(158), coil(8104), "低压开关故障"},
    { 60, at(159), coil(8105), "内管温探头故障"},
    { 61, at(160), coil(8106), "排气温度探头故障"},
    { 62, at(161), coil(8107), "系统变频驱动故障"},
    { 63, at(162), coil(8108), "系统变频驱动通讯故障"},
    { 64, at(163), coil(8109), "系统压力传感器故障"},
    { 65, at(164), coil(8110), "系统吸气温感故障"},
    { 66, at(166), coil(8112), "压缩机故障"},
    { 67, at(167), coil(8113), "排气高温保护(锁定)"},
    { 68, at(172), coil(8118), "盘管冻结报警"},
    { 69, at(174), coil(8120), "冷媒泄漏/不足报警"},
    // Refrigerant system 2
    { 70, at(206), coil(8133), "系统高压保护"},
    { 71, at(207), coil(8134), "系统低压保护"},
    { 72, at(208), coil(8135), "高压开关故障"},
    { 73, at(209), coil(8136), "低压开关故障"},
    { 74, at(210), coil(8137), "内管温探头故障"},
    { 75, at(211), coil(8138), "排气温度探头故障"},
    { 76, at(212), coil(8139), "系统变频驱动故障"},
    { 77, at(213), coil(8140), "系统变频驱动通讯故障"},
    { 78, at(214), coil(8141), "系统压力传感器故障"},
    { 79, at(215), coil(8142), "系统吸气温感故障"},
    { 80, at(217), coil(8144), "压缩机故障"},
    { 81, at(218), coil(8145), "排气高温保护（锁定）"},
    { 82, at(223), coil(8150), "盘管冻结报警"},
    { 83, at(225), coil(8152), "冷媒泄漏/不足报警"},
    // Outdoor unit 1
    { 84, at(249), coil(8504), "外风机驱动1通讯故障"},
    { 85, at(250), coil(8505), "室外温度传感器故障"},
    { 86, at(251), coil(8506), "压力传感器故障"},
    { 87, at(252), coil(8507), "系统高压保护(锁定)"},
    { 88, at(253), coil(8508), "系统低压保护(锁定)"},
    { 89, at(254), coil(8509), "机架：液管温感故障/非机架（水冷）出水温度过高告警"},
    { 90, at(255), coil(8510), "机架:外管温温感1故障/非机架（水冷）出水温度过低告警"},
    { 91, at(256), coil(8511), "机架:外管网温感2故障/非机架（水冷）：冷却水低流量保护"},
    { 92, at(257), coil(8512), "变频驱动故障/外风机1故障"},
    { 93, at(258), coil(8513), "风机过热保护/外风机2故障"},
    { 94, at(259), coil(8514), "机架：压缩机过流保护/非机架：进水温度传感器故障"},
    { 95, at(260), coil(8515), "出水温度传感器故障"},
    { 96, at(262), coil(8517), "非机架（水冷）：进水温度过高告警"},
    { 97, at(263), coil(8518), "非机架（水冷）：进水温度过低告警"},
    { 98, at(265), coil(8520), "非机架（水冷）：冷却水防冻保护"},
    { 99, at(269), coil(8524), "外机与扩展板通讯故障"},
    {100, at(270), coil(8525), "喷淋水泵进口压力传感器故障"},
    {101, at(271), coil(8526), "喷淋水泵出口压力传感器故障"},
    {102, at(272), coil(8527), "喷淋水泵故障"},
    {103, at(273), coil(8528), "喷淋水泵进水压力过低告警"},
    {104, at(274), coil(8529), "外风机驱动2通讯故障"},
    {105, at(277), coil(8532), "与室内机通讯故障"},
    // Outdoor unit 2
    {106, at(293), coil(8536), "外风机驱动1通讯故障"},
    {107, at(294), coil(8537), "室外温度传感器故障"},
    {108, at(295), coil(8538), "压力传感器故障"},
    {109, at(296), coil(8539), "系统高压保护(锁定)"},
    {110, at(297), coil(8540), "系统低压保护(锁定)"},
    {111, at(298), coil(8541), "机架：液管温感故障/非机架（水冷）出水温度过高告警"},
    {112, at(299), coil(8542), "机架:外管温温感1故障/非机架（水冷）出水温度过低告警"},
    {113, at(300), coil(8543), "机架:外管网温感2故障/非机架（水冷）：冷却水低流量保护"},
    {114, at(301), coil(8544), "变频驱动故障/外风机1故障"},
    {115, at(302), coil(8545), "风机过热保护/外风机2故障"},
    {116, at(303), coil(8546), "机架：压缩机过流保护/非机架：进水温度传感器故障"},
    {117, at(304), coil(8547), "出水温度传感器故障"},
    {118, at(306), coil(8549), "非机架（水冷）：进水温度过高告警"},
    {119, at(307), coil(8550), "非机架（水冷）：进水温度过低告警"},
    {120, at(309), coil(8552), "非机架（水冷）：冷却水防冻保护"},
    {121, at(313), coil(8556), "外机与扩展板通讯故障"},
    {122, at(314), coil(8557), "喷淋水泵进口压力传感器故障"},
    {123, at(315), coil(8558), "喷淋水泵出口压力传感器故障"},
    {124, at(316), coil(8559), "喷淋水泵故障"},
    {125, at(317), coil(8560), "喷淋水泵进水压力过低告警"},
    {126, at(318), coil(8561), "外风机驱动2通讯故障"},
    {127, at(321), coil(8564), "与室内机通讯故障"},
    // Pump cabinet 1
    {128, at(363), coil(8202), "泵柜环温传感器故障"},
    {129, at(364), coil(8203), "氟泵入口压力传感器故障"},
    {130, at(365), coil(8204), "氟泵出口压力传感器故障"},
    {131, at(366), coil(8205), "泵柜相序保护"},
    {132, at(367), coil(8206), "泵柜驱动器故障"},
    {133, at(368), coil(8207), "泵柜驱动器通讯故障"},
    {134, at(372), coil(8211), "氟泵高扬程锁定告警"},
    {135, at(373), coil(8212), "氟泵低扬程锁定告警"},
    {136, at(374), coil(8213), "氟泵过温锁定告警"},
    {137, at(375), coil(8214), "氟泵入口温度传感器故障"},
    {138, at(393), coil(8232), "与室内机通讯故障"},
    // Pump cabinet 2
    {139, at(399), coil(8234), "泵柜环温传感器故障"},
    {140, at(400), coil(8235), "氟泵入口压力传感器故障"},
    {141, at(401), coil(8236), "氟泵出口压力传感器故障"},
    {142, at(402), coil(8237), "泵柜相序保护"},
    {143, at(403), coil(8238), "泵柜驱动器故障"},
    {144, at(404), coil(8239), "泵柜驱动器通讯故障"},
    {145, at(408), coil(8243), "氟泵高扬程锁定告警"},
    {146, at(409), coil(8244), "氟泵低扬程锁定告警"},
    {147, at(410), coil(8245), "氟泵过温锁定告警"},
    {148, at(411), coil(8246), "氟泵入口温度传感器故障"},
    {149, at(429), coil(8264), "与室内机通讯故障"},
};
// clang-format on
static_assert(std::size(kAlarmTable) == 149, "149 alarm points");

namespace alarm_table_checks {

constexpr bool indexes_run_from_one() {
  for (std::size_t i = 0; i < std::size(kAlarmTable); ++i) {
    if (kAlarmTable[i].index != static_cast<int>(i) + 1) {
      return false;
    }
  }
  return true;
}

constexpr bool offsets_image_their_coils() {
  for (const AlarmEntry& entry : kAlarmTable) {
    if (address_at(ReadKind::coils, entry.offset.value) != entry.coil.value) {
      return false;
    }
  }
  return true;
}

static_assert(indexes_run_from_one(), "indexes run 1..149 in table order");
static_assert(offsets_image_their_coils(), "each record byte images the coil of its row");

}  // namespace alarm_table_checks

}  // namespace velmocair
