// Scenario files and options a server refuses; scenarios that work are
// driven end to end in sim_cycle_test.
#include <gtest/gtest.h>

#include <iterator>
#include <stdexcept>

#include "simulator/scenario.h"
#include "simulator/server.h"

namespace velmocair::sim {
namespace {

const std::vector<int> kServed = {1, 2};

std::string error_of(const std::string& text) {
  try {
    parse_scenario(text, "s.json", kServed);
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "accepted";
}

TEST(SimScenario, BadScenariosAreRefusedWithWhereAndWhy) {
  struct Row {
    const char* text;
    const char* message;
  };
  // clang-format off
  // scenario text                                                           message
  const Row rows[] = {
      {"{",                                                                     "s.json: not valid JSON: line 1, column 2: Missing '}' or object member name"},
      {R"({"unit": []})",                                                       "s.json: unknown member \"unit\""},
      {R"({"units": {}})",                                                      "s.json: units: must be an array"},
      {R"({"units": [{}]})",                                                    "units[0]: must be an object with a \"unit_id\""},
      {R"({"units": [{"unit_id": 3}]})",                                        "units[0].unit_id: unit 3 is not served"},
      {R"({"units": [{"unit_id": 1}, {"unit_id": 1}]})",                        "units[1].unit_id: unit 1 appears twice"},
      {R"({"units": [{"unit_id": 1, "colis": {}}]})",                           "units[0]: unknown member \"colis\""},
      {R"({"units": [{"unit_id": 1, "coils": {"8100": 1}}]})",                  "units[0].coils.8100: not a served coil"},
      {R"({"units": [{"unit_id": 1, "coils": {"8001": 2}}]})",                  "units[0].coils.8001: must be an integer in 0..1"},
      {R"({"units": [{"unit_id": 1, "registers": {"3515": 1}}]})",              "units[0].registers.3515: not a served register"},
      {R"({"units": [{"unit_id": 1, "registers": {"3501": 65536}}]})",          "must be an integer in 0..65535"},
      {R"({"units": [{"unit_id": 1, "registers": {"0x0DAD": 1}}]})",            "\"0x0DAD\" is not an address"},
      {R"({"units": [{"unit_id": 1, "timeline": {}}]})",                        "units[0].timeline: must be an array"},
      {R"({"units": [{"unit_id": 1, "timeline": [{"coils": {}}]}]})",           "timeline[0]: needs a \"cycle\""},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 0}]}]})",            "timeline[0].cycle: must be an integer in 1.."},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 4}, {"cycle": 3}]}]})", "timeline[1].cycle: cycles must not go down"},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 1, "ramps": []}]}]})", "timeline[0].ramps: must be an object"},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 1, "ramps": {"8100": {"to": 1, "cycles": 2}}}]}]})", "ramps.8100: not a served register"},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 1, "ramps": {"8005": {"to": 1}}}]}]})", "ramps.8005: needs \"to\" and \"cycles\""},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 1, "ramps": {"8005": {"to": 1, "cycles": 0}}}]}]})", "ramps.8005.cycles: must be an integer in 1.."},
      {R"({"units": [{"unit_id": 1, "timeline": [{"cycle": 1, "ramps": {"8005": {"to": 70000, "cycles": 1}}}]}]})", "ramps.8005.to: must be an integer in 0..65535"},
  };
  // clang-format on
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_NE(error_of(rows[i].text).find(rows[i].message), std::string::npos)
        << "row " << i << ": " << error_of(rows[i].text);
  }
  EXPECT_THROW(load_scenario("/nonexistent/scenario.json", kServed), std::runtime_error);
}

TEST(SimScenario, ServerRefusesUnsoundOptions) {
  struct Row {
    const char* what;
    ServerOptions options;
    const char* message;
  };
  const auto options = [](auto change) {
    ServerOptions made;
    made.tcp_port = 0;
    change(made);
    return made;
  };
  const auto with_rule = [&](auto change) {
    return options([&](ServerOptions& made) {
      FaultRule rule;
      change(rule);
      made.faults.rules.push_back(rule);
    });
  };
  // clang-format off
  const Row rows[] = {
      {"no endpoint",    options([](ServerOptions& o) { o.tcp_port = -1; }),              "nothing to serve"},
      {"port too high",  options([](ServerOptions& o) { o.tcp_port = 65536; }),           "0..65535"},
      {"no unit",        options([](ServerOptions& o) { o.unit_ids.clear(); }),           "no unit id"},
      {"unit 248",       options([](ServerOptions& o) { o.unit_ids = {248}; }),           "outside 1..247"},
      {"unit twice",     options([](ServerOptions& o) { o.unit_ids = {4, 4}; }),          "given twice"},
      {"negative baud",  options([](ServerOptions& o) { o.pace_baud = -1; }),             "must not be negative"},
      {"rate 1.5",       with_rule([](FaultRule& r) { r.probability = 1.5; }),            "probability"},
      {"cycles 5..4",    with_rule([](FaultRule& r) { r.first_cycle = 5; r.last_cycle = 4; }), "cycles"},
      {"zero delay",     with_rule([](FaultRule& r) { r.kind = FaultKind::delay; }),      "positive number"},
      {"exception 7",    with_rule([](FaultRule& r) { r.kind = FaultKind::exception; r.exception_code = 7; }), "exception code"},
      {"unserved unit",  with_rule([](FaultRule& r) { r.unit_id = 9; }),                  "unit 9 is not served"},
      {"no scenario",    options([](ServerOptions& o) { o.scenario_path = "/nonexistent.json"; }), "cannot read the scenario file: No such file or directory"},
  };
  // clang-format on
  for (const Row& row : rows) {
    try {
      Server server(row.options);
      ADD_FAILURE() << row.what << ": accepted";
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(row.message), std::string::npos)
          << row.what << ": " << error.what();
    }
  }
  const Server first(options([](ServerOptions&) {}));
  const ServerOptions taken = options([&](ServerOptions& o) { o.tcp_port = first.tcp_port(); });
  EXPECT_THROW(Server second(taken), std::runtime_error) << "port in use";
}

}  // namespace
}  // namespace velmocair::sim
