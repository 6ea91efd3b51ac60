#pragma once

#include <cstddef>

// The unit data record: a fixed 441-byte little-endian image of one poll
// cycle, published, stored as history and read back from the cache byte for
// byte. Every block is a byte array, so multi-byte fields at odd offsets are
// only ever read and written byte-wise (see record_access.h).
//
// A coil occupies one byte (0 or 1); a holding register two bytes, low byte
// first, in ascending address order from the block's first address.
struct Velmocair_Data_t {
  unsigned char data_id[4];                  // device's data id, set by InitSetting
  unsigned char indoor_states_alarms[32];    // coils 8001..8032
  unsigned char indoor_fan_faults[8];        // coils 8033..8040: fans 1..8
  unsigned char indoor_limit_alarms[8];      // coils 8041..8048
  unsigned char return_air_probe_faults[3];  // coils 8049..8051
  unsigned char humidity_supply_probes[4];   // coils 8052..8055
  unsigned char indoor_further_alarms[20];   // coils 8056..8075: fans 9..16, power, links
  unsigned char indoor_values[76];           // registers 8001..8038
  unsigned char system1_alarms[31];          // coils 8101..8131
  unsigned char system1_values[20];          // registers 8101..8110
  unsigned char system2_alarms[20];          // coils 8133..8152
  unsigned char system2_values[20];          // registers 8133..8142
  unsigned char outdoor1_alarms[32];         // coils 8501..8532
  unsigned char outdoor1_values[12];         // registers 8501..8506
  unsigned char outdoor2_alarms[32];         // coils 8533..8564
  unsigned char outdoor2_values[12];         // registers 8509..8514
  unsigned char settings[28];                // registers 3501..3514
  unsigned char pump1_alarms[32];            // coils 8201..8232
  unsigned char pump1_values[4];             // registers 8205..8206
  unsigned char pump2_alarms[32];            // coils 8233..8264
  unsigned char pump2_values[4];             // registers 8221..8222
  struct {
    unsigned char year[2];  // little-endian
    unsigned char month;
    unsigned char day;
    unsigned char hour;
    unsigned char minute;
    unsigned char second;
  } time_stamp;  // local time at which the cycle completed
};

// clang-format off
static_assert(sizeof(Velmocair_Data_t) == 441, "the record is 441 bytes without padding");
static_assert(offsetof(Velmocair_Data_t, data_id)                 ==   0);
static_assert(offsetof(Velmocair_Data_t, indoor_states_alarms)    ==   4);
static_assert(offsetof(Velmocair_Data_t, indoor_fan_faults)       ==  36);
static_assert(offsetof(Velmocair_Data_t, indoor_limit_alarms)     ==  44);
static_assert(offsetof(Velmocair_Data_t, return_air_probe_faults) ==  52);
static_assert(offsetof(Velmocair_Data_t, humidity_supply_probes)  ==  55);
static_assert(offsetof(Velmocair_Data_t, indoor_further_alarms)   ==  59);
static_assert(offsetof(Velmocair_Data_t, indoor_values)           ==  79);
static_assert(offsetof(Velmocair_Data_t, system1_alarms)          == 155);
static_assert(offsetof(Velmocair_Data_t, system1_values)          == 186);
static_assert(offsetof(Velmocair_Data_t, system2_alarms)          == 206);
static_assert(offsetof(Velmocair_Data_t, system2_values)          == 226);
static_assert(offsetof(Velmocair_Data_t, outdoor1_alarms)         == 246);
static_assert(offsetof(Velmocair_Data_t, outdoor1_values)         == 278);
static_assert(offsetof(Velmocair_Data_t, outdoor2_alarms)         == 290);
static_assert(offsetof(Velmocair_Data_t, outdoor2_values)         == 322);
static_assert(offsetof(Velmocair_Data_t, settings)                == 334);
static_assert(offsetof(Velmocair_Data_t, pump1_alarms)            == 362);
static_assert(offsetof(Velmocair_Data_t, pump1_values)            == 394);
static_assert(offsetof(Velmocair_Data_t, pump2_alarms)            == 398);
static_assert(offsetof(Velmocair_Data_t, pump2_values)            == 430);
static_assert(offsetof(Velmocair_Data_t, time_stamp)              == 434);
static_assert(sizeof(Velmocair_Data_t::time_stamp)                ==   7);
// clang-format on
