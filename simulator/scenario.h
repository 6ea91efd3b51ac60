#pragma once

#include <map>
#include <string>
#include <vector>

#include "simulator/unit.h"

namespace velmocair::sim {

// Scenario file (JSON):
//   {"units": [{"unit_id": 1,
//               "coils": {"8022": 1}, "registers": {"3501": 230},
//               "timeline": [{"cycle": 3, "coils": {"8022": 1}},
//                            {"cycle": 5, "coils": {"8022": 0}},
//                            {"cycle": 6, "ramps": {"8005": {"to": 240, "cycles": 600}}}]}]}
// Coils take 0, 1, false or true; registers 0..65535; addresses must be
// served; cycles count from 1 and ascend; a ramp moves a register from the
// value it holds at its cycle to "to", reached "cycles" cycles later; every
// unit must be among `served_units`. Units without an entry keep the built-in defaults.

// Parses scenario text; `origin` names it in messages. Throws
// std::runtime_error with a one-line reason.
std::map<int, UnitSetup> parse_scenario(const std::string& text, const std::string& origin,
                                        const std::vector<int>& served_units);

// Reads and parses a scenario file.
std::map<int, UnitSetup> load_scenario(const std::string& path,
                                       const std::vector<int>& served_units);

}  // namespace velmocair::sim
