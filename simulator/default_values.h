#pragma once

#include <cstdint>
#include <iterator>

#include "simulator/address_map.h"

namespace velmocair::sim {

// Built-in image of a running unit with both power feeds closed.
// Temperatures, humidities and pressures are in tenths. Addresses not listed
// hold 0. The status document reads registers 8003..8007 both as run-mode
// flags and as the supply, room and return-air values and the run hours; the
// image holds the values there, so those five run-mode texts show "无效值".
// Register 8002 stays 0: the document also reads it as a second smoke alarm.

struct DefaultCoil {
  int address;  // coil that is on at start
};

struct DefaultRegister {
  int address;
  std::uint16_t value;
};

// clang-format off
// coil    meaning
inline constexpr DefaultCoil kDefaultCoils[] = {
    {8001},  // unit on
    {8007},  // supply fan running
    {8010},  // remote switch on
    {8062},  // alarm: filter maintenance due
    {8131},  // refrigerant system 1: compressor running
    {8502},  // outdoor unit 1: water-flow switch closed
    {8534},  // outdoor unit 2: water-flow switch closed
    {8556},  // alarm: outdoor unit 2 lost its extension board
    {8234},  // alarm: pump cabinet 2 ambient probe fault
};

// register  value    meaning
inline constexpr DefaultRegister kDefaultRegisters[] = {
    {3501,   240},  // return-air temperature set-point 24.0
    {3502,   180},  // supply-air temperature set-point 18.0
    {3503,   240},  // remote temperature set-point 24.0
    {3504,   500},  // humidity set-point 50.0
    {3505,   350},  // high-temperature alarm 35.0
    {3506,   150},  // low-temperature alarm 15.0
    {3507,   800},  // high-humidity alarm 80.0
    {3508,   200},  // low-humidity alarm 20.0
    {3509,     1},  // remote on/off: on
    {3510,     0},  // local operation allowed
    {3512,    30},  // start delay, seconds
    {3513,   300},  // supply-air high alarm 30.0
    {3514,   100},  // supply-air low alarm 10.0
    {8003,   185},  // supply-air temperature 18.5
    {8004,   240},  // room temperature 24.0
    {8005,   253},  // return-air temperature 25.3
    {8006,   486},  // return-air humidity 48.6
    {8007, 21560},  // unit run hours
    {8014,   380},  // supply voltage
    {8015,   452},  // supply-air humidity 45.2
    {8020,  1260},  // humidifier run hours
    {8021,  2150},  // filter run hours
    {8022,   253},  // average (return-air) temperature 25.3
    {8023,   486},  // average humidity 48.6
    {8024,  1450},  // indoor fan speed 1
    {8025,  1450},  // indoor fan speed 2
    {8026,  1440},  // indoor fan speed 3
    {8030,   312},  // electric heater 1 run hours
    {8031,   298},  // electric heater 2 run hours
    {8032,   125},  // air pressure difference, Pa
    {8033,     1},  // power feed A closed
    {8034,     1},  // power feed B closed
    {8035, 18650},  // compressor sub-mode run hours
    {8036,  4210},  // mixed sub-mode run hours
    {8037,  6020},  // pump sub-mode run hours
    {8038,   452},  // cooling capacity 45.2
    {8101,   128},  // system 1 suction temperature 12.8
    {8103,   320},  // system 1 expansion valve opening
    {8105,    58},  // system 1 compressor frequency
    {8107,    85},  // system 1 suction pressure 8.5
    {8110, 18650},  // system 1 compressor run hours
    {8133,   131},  // system 2 suction temperature 13.1
    {8135,   300},  // system 2 expansion valve opening
    {8136,   172},  // system 2 compressor run time, tenths
    {8137,    56},  // system 2 compressor frequency
    {8139,    84},  // system 2 suction pressure 8.4
    {8142, 17220},  // system 2 compressor run hours
    {8205,  2850},  // pump cabinet 1 pump speed
    {8206,  6020},  // pump cabinet 1 pump run hours
    {8221,     0},  // pump cabinet 2 pump stopped
    {8222,  5890},  // pump cabinet 2 pump run hours
    {8501,   325},  // outdoor unit 1 outlet water 32.5
    {8502,   680},  // outdoor unit 1 fan speed
    {8504,   279},  // outdoor unit 1 inlet water 27.9
    {8505,   182},  // outdoor unit 1 condensing pressure 18.2
    {8506,    65},  // outdoor unit 1 water valve opening
    {8509,   322},  // outdoor unit 2 outlet water 32.2
    {8510,   660},  // outdoor unit 2 fan speed
    {8512,   276},  // outdoor unit 2 inlet water 27.6
    {8513,   179},  // outdoor unit 2 condensing pressure 17.9
    {8514,    62},  // outdoor unit 2 water valve opening
};
// clang-format on
static_assert(std::size(kDefaultCoils) == 9);
static_assert(std::size(kDefaultRegisters) == 61);

constexpr bool default_coils_are_served() {
  for (const DefaultCoil& coil : kDefaultCoils) {
    if (!is_served(Area::coils, coil.address, 1)) {
      return false;
    }
  }
  return true;
}

constexpr bool default_registers_are_served_and_unique() {
  for (std::size_t i = 0; i < std::size(kDefaultRegisters); ++i) {
    if (!is_served(Area::registers, kDefaultRegisters[i].address, 1)) {
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (kDefaultRegisters[j].address == kDefaultRegisters[i].address) {
        return false;
      }
    }
  }
  return true;
}

static_assert(default_coils_are_served());
static_assert(default_registers_are_served_and_unique());

}  // namespace velmocair::sim
