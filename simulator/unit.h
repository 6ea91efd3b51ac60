#pragma once

#include <modbus.h>

#include <cstdint>
#include <mutex>
#include <random>
#include <vector>

#include "simulator/address_map.h"
#include "simulator/fault_plan.h"
#include "simulator/frames.h"

namespace velmocair::sim {

// One coil or register set to a value.
struct UnitChange {
  Area area;
  int address;
  std::uint16_t value;  // 0 or 1 for a coil
};

// A register moving in equal steps from the value it holds when the ramp
// starts to `target`, which it reaches `cycles` cycles later.
struct Ramp {
  int address;
  std::uint16_t target;
  int cycles;
};

// Changes applied when the unit's cycle `cycle` starts, before its first read
// is answered, and ramps that start then.
struct TimelineEvent {
  int cycle;
  std::vector<UnitChange> changes;
  std::vector<Ramp> ramps;
};

// What a scenario says about one unit, on top of the built-in defaults.
struct UnitSetup {
  std::vector<UnitChange> initial;
  std::vector<TimelineEvent> timeline;  // ascending by cycle
};

// The exception code the unit answers `request` with, or 0 for a normal reply.
// Only reads of coils and holding registers and single-register writes are
// supported; `other_device` answers only its reads (address_map.h) and
// refuses every write.
int exception_for(const Request& request, bool other_device);

// The data of one unit address and its cycle count. Every member function
// locks, so sessions on several threads may share a unit.
class Unit {
 public:
  // `other_device`: the address behaves as another Modbus device.
  Unit(int id, const UnitSetup& setup, bool mark_generations, std::uint64_t seed,
       bool other_device);
  ~Unit();
  Unit(const Unit&) = delete;
  Unit& operator=(const Unit&) = delete;

  // Takes a request in: a read of coils from 8001 starts the next cycle.
  // Returns the fault that strikes the request, or null.
  const FaultRule* admit(const Request& request, const FaultPlan& plan);

  // The normal reply PDU to a supported request; a write is stored.
  std::vector<std::uint8_t> reply_pdu(const Request& request);

  int cycles() const;
  bool other_device() const { return other_device_; }
  // Current image of served addresses; throws std::out_of_range otherwise.
  std::vector<std::uint8_t> coils(int first, int count) const;
  std::vector<std::uint16_t> registers(int first, int count) const;

 private:
  void set(const UnitChange& change);
  void start_cycle();
  // Moves each running ramp's register to its value for this cycle.
  void follow_ramps();
  void mark();

  const int id_;
  const bool mark_generations_;
  const bool other_device_;
  const std::vector<TimelineEvent> timeline_;
  mutable std::mutex mutex_;
  modbus_mapping_t* image_;
  std::mt19937_64 random_;
  std::size_t next_event_ = 0;
  struct RunningRamp {
    Ramp ramp;
    int first_cycle;
    std::uint16_t from;
  };
  std::vector<RunningRamp> ramps_;
  int cycle_ = 0;
};

}  // namespace velmocair::sim
