#pragma once

#include <cstddef>
#include <iterator>

#include "cli/mqtt/document_members.h"
#include "cli/mqtt/set_topics.h"

// How Home Assistant is shown each unit: what each number of the status
// document measures, which alarm points are enabled from the start, and
// which members make the climate entity.
namespace velmocair::mqtt {

// What a number measures, as far as its name tells. A unit is given only
// where the name leaves no doubt; counters and settings whose unit the
// document does not say get none, rather than a guessed one.
enum class Quantity : unsigned char { plain, total, temperature, humidity, voltage, frequency };

struct QuantityClass {
  Quantity quantity;
  const char* device_class;  // null: none
  const char* unit;          // null: none
  const char* state_class;
};

// clang-format off
// quantity              device class   unit    state class
inline constexpr QuantityClass kQuantityClasses[] = {
    {Quantity::plain,       nullptr,       nullptr, "measurement"},
    {Quantity::total,       nullptr,       nullptr, "total_increasing"},
    {Quantity::temperature, "temperature", "°C",    "measurement"},
    {Quantity::humidity,    "humidity",    "%",     "measurement"},
    {Quantity::voltage,     "voltage",     "V",     "measurement"},
    {Quantity::frequency,   "frequency",   "Hz",    "measurement"},
};
// clang-format on

constexpr const QuantityClass& quantity_class(Quantity quantity) {
  for (const QuantityClass& row : kQuantityClasses) {
    if (row.quantity == quantity) {
      return row;
    }
  }
  return kQuantityClasses[0];
}

struct NumberPresentation {
  status::RegisterAddress source;
  Quantity quantity;
};

// Every number of the status document, by the register it shows.
// clang-format off
// register            quantity                   group / key
inline constexpr NumberPresentation kNumberPresentation[] = {
    {status::reg(8003), Quantity::temperature},   // 室内机组状态 送风温度
    {status::reg(8004), Quantity::temperature},   // 室内机组状态 室内温度
    {status::reg(8005), Quantity::temperature},   // 室内机组状态 回风温度
    {status::reg(8006), Quantity::humidity},      // 室内机组状态 回风湿度
    {status::reg(8007), Quantity::total},         // 室内机组状态 机组累计运行时间
    {status::reg(8014), Quantity::voltage},       // 室内机组状态 电源电压
    {status::reg(8015), Quantity::humidity},      // 室内机组状态 送风湿度
    {status::reg(8020), Quantity::total},         // 室内机组状态 加湿器运行时间
    {status::reg(8021), Quantity::total},         // 室内机组状态 滤网运行时间
    {status::reg(8022), Quantity::temperature},   // 室内机组状态 平均温度
    {status::reg(8023), Quantity::humidity},      // 室内机组状态 平均湿度
    {status::reg(8024), Quantity::plain},         // 室内机组状态 内风机控制转速1
    {status::reg(8025), Quantity::plain},         // 室内机组状态 内风机控制转速2
    {status::reg(8026), Quantity::plain},         // 室内机组状态 内风机控制转速3
    {status::reg(8030), Quantity::total},         // 室内机组状态 电加热1累计运行时间
    {status::reg(8031), Quantity::total},         // 室内机组状态 电加热2累计运行时间
    {status::reg(8032), Quantity::plain},         // 室内机组状态 风压差
    {status::reg(8035), Quantity::total},         // 室内机组状态 压机子模式累计运行时间
    {status::reg(8036), Quantity::total},         // 室内机组状态 混合子模式累计运行时间
    {status::reg(8037), Quantity::total},         // 室内机组状态 氟泵子模式累计运行时间
    {status::reg(8038), Quantity::plain},         // 室内机组状态 机组制冷量
    {status::reg(8101), Quantity::temperature},   // 系统1状态 系统吸气温度值
    {status::reg(8103), Quantity::plain},         // 系统1状态 系统EEV开度值
    {status::reg(8105), Quantity::frequency},     // 系统1状态 压机运行频率
    {status::reg(8107), Quantity::plain},         // 系统1状态 吸气压力
    {status::reg(8110), Quantity::total},         // 系统1状态 压机运行时间
    {status::reg(8133), Quantity::temperature},   // 系统2状态 系统吸气温度值
    {status::reg(8135), Quantity::plain},         // 系统2状态 系统EEV开度值
    {status::reg(8137), Quantity::frequency},     // 系统2状态 压机运行频率
    {status::reg(8139), Quantity::plain},         // 系统2状态 吸气压力
    {status::reg(8142), Quantity::total},         // 系统2状态 压机运行时间
    {status::reg(8501), Quantity::temperature},   // 室外机1状态 出水水温
    {status::reg(8502), Quantity::plain},         // 室外机1状态 外风机转速
    {status::reg(8504), Quantity::temperature},   // 室外机1状态 进水水温
    {status::reg(8505), Quantity::plain},         // 室外机1状态 冷凝压力
    {status::reg(8506), Quantity::plain},         // 室外机1状态 比例水阀开度
    {status::reg(8509), Quantity::temperature},   // 室外机2状态 出水水温
    {status::reg(8510), Quantity::plain},         // 室外机2状态 外风机转速
    {status::reg(8512), Quantity::temperature},   // 室外机2状态 进水水温
    {status::reg(8513), Quantity::plain},         // 室外机2状态 冷凝压力
    {status::reg(8514), Quantity::plain},         // 室外机2状态 比例水阀开度
    {status::reg(3501), Quantity::temperature},   // 参数设定 回风温度设定值
    {status::reg(3502), Quantity::temperature},   // 参数设定 出风温度设定值
    {status::reg(3503), Quantity::temperature},   // 参数设定 远程温度设定值
    {status::reg(3504), Quantity::humidity},      // 参数设定 设定湿度
    {status::reg(3505), Quantity::temperature},   // 参数设定 高温报警
    {status::reg(3506), Quantity::temperature},   // 参数设定 低温报警
    {status::reg(3507), Quantity::humidity},      // 参数设定 高湿报警
    {status::reg(3508), Quantity::humidity},      // 参数设定 低湿报警
    {status::reg(3512), Quantity::plain},         // 参数设定 启动延时
    {status::reg(3513), Quantity::temperature},   // 参数设定 送风高温告警值
    {status::reg(3514), Quantity::temperature},   // 参数设定 送风低温告警值
    {status::reg(8205), Quantity::plain},         // 泵柜1状态 氟泵实际转速
    {status::reg(8206), Quantity::total},         // 泵柜1状态 氟泵累计运行时间
    {status::reg(8221), Quantity::plain},         // 泵柜2状态 氟泵实际转速
    {status::reg(8222), Quantity::total},         // 泵柜2状态 氟泵累计运行时间
};
// clang-format on

// The quantity of the number member `index`.
constexpr Quantity number_quantity(std::size_t index) {
  for (const NumberPresentation& row : kNumberPresentation) {
    if (row.source.value == document_member(index).source.address) {
      return row.quantity;
    }
  }
  return Quantity::plain;
}

struct AlarmKey {
  const char* group;
  const char* key;
};

// The alarm points enabled in Home Assistant from the start: those that
// mean the room is at risk (fire, water, temperature or humidity out of
// bounds) or the unit has stopped cooling (power, fans, airflow, the
// refrigerant systems). The others (sensor, communication and maintenance
// faults, fans one by one, the outdoor units and pump cabinets) are
// discovered disabled; all of them count in the active-alarms sensor.
// clang-format off
inline constexpr AlarmKey kAlarmsEnabledByDefault[] = {
    {status::kIndoor,  "电源故障/A路电源故障"},
    {status::kIndoor,  "B路电源故障"},
    {status::kIndoor,  "相序错误"},
    {status::kIndoor,  "缺相错误"},
    {status::kIndoor,  "烟雾报警"},
    {status::kIndoor,  "水浸报警"},
    {status::kIndoor,  "冷凝水高水位保护"},
    {status::kIndoor,  "风机过载故障"},
    {status::kIndoor,  "气流丢失故障"},
    {status::kIndoor,  "高温报警"},
    {status::kIndoor,  "低温报警"},
    {status::kIndoor,  "高湿报警"},
    {status::kIndoor,  "低湿报警"},
    {status::kIndoor,  "送风高温报警"},
    {status::kSystem1, "系统高压保护"},
    {status::kSystem1, "系统低压保护"},
    {status::kSystem1, "压缩机故障"},
    {status::kSystem1, "冷媒泄漏/不足报警"},
    {status::kSystem2, "系统高压保护"},
    {status::kSystem2, "系统低压保护"},
    {status::kSystem2, "压缩机故障"},
    {status::kSystem2, "冷媒泄漏/不足报警"},
};
// clang-format on

constexpr bool alarm_enabled_by_default(std::size_t index) {
  for (const AlarmKey& row : kAlarmsEnabledByDefault) {
    if (member_index(row.group, row.key) == index) {
      return true;
    }
  }
  return false;
}

// The climate entity: running state, and the return air it controls.
inline constexpr std::size_t kRunningState = member_index(status::kIndoor, "开/关状态");
inline constexpr std::size_t kReturnAirTemperature = member_index(status::kIndoor, "回风温度");
inline constexpr std::size_t kReturnAirHumidity = member_index(status::kIndoor, "回风湿度");

// The number member showing what the set-point command of `topic` writes.
constexpr std::size_t set_point_member(const SetTopic& topic) {
  const std::size_t command = numeric_command_index(topic.command);
  return command < std::size(kNumericCommands)
             ? number_member_of_register(kNumericCommands[command].reg.value)
             : kMemberCount;
}

namespace entity_checks {

constexpr bool every_number_presented_once() {
  std::size_t numbers = 0;
  for (std::size_t i = 0; i < kMemberCount; ++i) {
    if (document_member(i).rule != status::Rule::number) {
      continue;
    }
    ++numbers;
    std::size_t rows = 0;
    for (const NumberPresentation& row : kNumberPresentation) {
      rows += row.source.value == document_member(i).source.address ? 1 : 0;
    }
    if (rows != 1) {
      return false;
    }
  }
  return numbers == std::size(kNumberPresentation);
}

constexpr bool enabled_alarms_are_alarms() {
  for (const AlarmKey& row : kAlarmsEnabledByDefault) {
    const std::size_t index = member_index(row.group, row.key);
    if (index == kMemberCount || document_member(index).rule != status::Rule::alarm) {
      return false;
    }
  }
  return true;
}

constexpr bool set_points_are_shown() {
  for (const SetTopic& topic : kSetTopics) {
    if (topic.kind == SetKind::set_point &&
        (set_point_member(topic) == kMemberCount ||
         !same_text(document_member(set_point_member(topic)).group, status::kSettings))) {
      return false;
    }
  }
  return true;
}

static_assert(every_number_presented_once(), "one row per number of the document");
static_assert(enabled_alarms_are_alarms(), "each enabled alarm is an alarm member");
static_assert(document_member(kRunningState).rule == status::Rule::state_text &&
              document_member(kReturnAirTemperature).rule == status::Rule::number &&
              document_member(kReturnAirHumidity).rule == status::Rule::number);
static_assert(set_points_are_shown(),
              "each set-point command writes a register the document shows");

}  // namespace entity_checks

}  // namespace velmocair::mqtt
