// Site files: the units, their transports and configurations, and every
// mistake refused with a reason that names the place.
#include "cli/runtime/site_file.h"

#include <gtest/gtest.h>

#include "cli/options/exit_status.h"

namespace velmocair::cli {
namespace {

constexpr const char* kSite = R"({"units": [
  {"name": "crac-1", "data_id": 1001, "transport": {"tcp": "10.0.0.5:502"},
   "setting": {"appSetting": {"b_mode": 2}, "modbus": {"unit_id": 4}}},
  {"name": "crac-2", "data_id": 4294967295, "transport": {"rtu": "/dev/ttyUSB0"}},
  {"name": "crac-3", "data_id": 0,
   "transport": {"rtu": "/dev/ttyUSB1", "baud": 19200, "parity": "even", "data_bits": 7,
                 "stop_bits": 2}}
]})";

TEST(SiteFile, ReadsEachUnitsTransportAndConfiguration) {
  const std::vector<UnitConfig> units = parse_site_text(kSite, "site.json").units;
  ASSERT_EQ(units.size(), 3u);

  EXPECT_EQ(units[0].name, "crac-1");
  EXPECT_EQ(units[0].data_id, 1001u);
  ASSERT_TRUE(units[0].bus);
  EXPECT_EQ(units[0].bus->kind, sitehost::BusAddress::tcp);
  EXPECT_EQ(units[0].bus->endpoint.host, "10.0.0.5");
  EXPECT_EQ(units[0].bus->endpoint.port, 502);
  EXPECT_EQ(units[0].setting["appSetting"]["b_mode"].asInt(), 2);
  EXPECT_EQ(units[0].setting["modbus"]["unit_id"].asInt(), 4);

  EXPECT_EQ(units[1].data_id, 4294967295u);
  EXPECT_EQ(units[1].bus->kind, sitehost::BusAddress::rtu);
  EXPECT_EQ(units[1].bus->line.device, "/dev/ttyUSB0");
  EXPECT_EQ(units[1].bus->line.baud, 0) << "the unit's resolved rate";
  EXPECT_EQ(units[1].bus->line.parity, 'N');
  EXPECT_EQ(units[1].bus->line.data_bits, 8);
  EXPECT_EQ(units[1].bus->line.stop_bits, 1);
  EXPECT_TRUE(units[1].setting.isObject() && units[1].setting.empty());

  EXPECT_EQ(units[2].bus->line.baud, 19200);
  EXPECT_EQ(units[2].bus->line.parity, 'E');
  EXPECT_EQ(units[2].bus->line.data_bits, 7);
  EXPECT_EQ(units[2].bus->line.stop_bits, 2);
  EXPECT_EQ(units[2].bus->name(), "rtu /dev/ttyUSB1");
}

TEST(SiteFile, PassesTheSettingToTheDeviceAsItStands) {
  const std::vector<UnitConfig> units =
      parse_site_text(
          R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"},
         "setting": {"appSetting": {"b_mode": 3, "other": "x"}, "extra": [1, {"k": null}],
                     "modbus": {"unit_id": 247, "baud": 115200}}}]})",
          "site.json")
          .units;
  ASSERT_EQ(units.size(), 1u);
  Json::Value expected(Json::objectValue);
  expected["appSetting"]["b_mode"] = 3;
  expected["appSetting"]["other"] = "x";
  expected["extra"].append(1);
  expected["extra"].append(Json::Value(Json::objectValue));
  expected["extra"][1]["k"] = Json::Value();
  expected["modbus"]["unit_id"] = 247;
  expected["modbus"]["baud"] = 115200;
  EXPECT_EQ(units[0].setting, expected);
}

// What the scan prints as a site-file entry is read back as the bus it found.
TEST(SiteFile, ATransportWrittenOutReadsBackAsTheSameBus) {
  sitehost::BusAddress tcp;
  tcp.endpoint = {"gateway.local", 5020};
  sitehost::BusAddress rtu;
  rtu.kind = sitehost::BusAddress::rtu;
  rtu.line = {"/dev/ttyS1", 19200, 'E', 7, 2, {}};
  sitehost::BusAddress rs485 = rtu;
  rs485.line.rs485 = {true, true, std::nullopt};
  sitehost::BusAddress rts_low = rtu;
  rts_low.line.rs485 = {true, false, 350};
  for (const sitehost::BusAddress& bus : {tcp, rtu, rs485, rts_low}) {
    Json::Value site(Json::objectValue);
    Json::Value& unit = site["units"][0];
    unit["name"] = "a";
    unit["data_id"] = 1;
    unit["transport"] = transport_json(bus);
    const std::string text = site.toStyledString();
    const sitehost::BusAddress read = *parse_site_text(text, "site.json").units.at(0).bus;
    EXPECT_EQ(read.kind, bus.kind) << text;
    EXPECT_EQ(read.name(), bus.name()) << text;
    if (bus.kind == sitehost::BusAddress::rtu) {
      EXPECT_EQ(read.line.settings(), bus.line.settings()) << text;
      EXPECT_TRUE(read.line.rs485 == bus.line.rs485) << text;
    }
  }
}

struct BadSiteText {
  const char* text;
  const char* says;
};

TEST(SiteFile, NamesAndBoundsTheHistoryAndNamesTheBroker) {
  const SiteFile site = parse_site_text(
      R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}],
          "history": {"file": "site-a.sqlite", "keep": "30d", "max_size": "1.5GiB"},
          "mqtt": {"url": "mqtt://broker/site-a", "read_only": true}})",
      "site.json");
  EXPECT_EQ(site.history_file, "site-a.sqlite");
  EXPECT_EQ(site.mqtt.url, "mqtt://broker/site-a");
  EXPECT_TRUE(site.mqtt.read_only);
  EXPECT_EQ(site.history.keep_seconds, 30 * 86400);
  EXPECT_EQ(site.history.max_bytes, 1610612736);
  EXPECT_TRUE(
      parse_site_text(R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}]})",
                      "site.json")
          .history.keeps_everything());
}

TEST(SiteFile, RefusesMistakesNamingThePlace) {
  // clang-format off
  const BadSiteText cases[] = {
      {R"([])",                                     "non-empty \"units\" array"},
      {R"({"units": []})",                          "non-empty \"units\" array"},
      {R"({"units": [1]})",                         "unit 1: must be an object"},
      {R"({"units": [{"name": "a"}], "x": 1})",     "unknown key \"x\""},
      {R"({"units": [{"data_id": 1, "transport": {"tcp": "h:1"}}]})",                       "unit 1: \"name\" must be a non-empty string"},
      {R"({"units": [{"name": "a", "data_id": -1, "transport": {"tcp": "h:1"}}]})",         "unit 1 (a): \"data_id\""},
      {R"({"units": [{"name": "a", "data_id": 4294967296, "transport": {"tcp": "h:1"}}]})", "unit 1 (a): \"data_id\""},
      {R"({"units": [{"name": "a", "data_id": 1}]})",                                       "\"transport\" must be an object"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {}}]})",                      "exactly one of \"tcp\" and \"rtu\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"tcp": "h:1", "rtu": "/d"}}]})", "exactly one of"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"tcp": "h:1", "baud": 9600}}]})", "need an \"rtu\" transport"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"tcp": "h"}}]})",            "expected HOST:PORT"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "parity": "x"}}]})", "expected none, even or odd"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "stop_bits": 3}}]})", "\"stop_bits\" must be a whole number 1..2"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "speed": 9600}}]})", "transport: unknown key \"speed\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "setting": 5}]})", "\"setting\" must be an object"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "rs485": true}}]})", "unit 1 (a) rs485: must be an object"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "rs485": {"rts": "high"}}}]})", "rs485: \"rts\" must be \"up\" or \"down\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "rs485": {"delay": 5}}}]})", "rs485: unknown key \"delay\" (allowed: \"rts\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "rs485": {"rts_delay_us": -1}}}]})", "rs485: \"rts_delay_us\" must be a whole number 0..1000000"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"tcp": "h:1", "rs485": {}}}]})", "need an \"rtu\" transport"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "mode": 1}]})",   "unknown key \"mode\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "baud": 12345}}]})", "unit 1 (a): \"baud\" must be a baud rate the serial line can be set to (110, 300,"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d", "baud": 2000000}}]})", "\"baud\" must be a baud rate"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "setting": {"modbus": 1}}]})",              "unit 1 (a) setting modbus: must be an object"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "setting": {"modbus": {"unitid": 2}}}]})", "unit 1 (a) setting modbus: unknown key \"unitid\" (allowed: \"unit_id\" 1..247, \"baud\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "setting": {"modbus": {"unit_id": 0}}}]})", "unit 1 (a) setting modbus: \"unit_id\" must be a whole number 1..247"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "setting": {"modbus": {"unit_id": "2"}}}]})", "unit 1 (a) setting modbus: \"unit_id\" must be a whole number 1..247"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}, "setting": {"modbus": {"baud": 12345}}}]})", "unit 1 (a) setting modbus: \"baud\" must be a baud rate the serial line can be set to"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}},
                     {"name": "a", "data_id": 2, "transport": {"rtu": "/d"}}]})",          "unit name \"a\" given twice"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}},
                     {"name": "b", "data_id": 1, "transport": {"rtu": "/d"}}]})",          "data id 1 given twice"},
      {R"({"units": [{"name": "a", "name": "b"}]})",                                        "not valid JSON"},
      {R"({"units": [)",                                                                    "not valid JSON"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "mqtt": {"url": "http://b"}})",          "mqtt url: "},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "mqtt": {"url": "mqtt://b", "read_only": 1}})", "mqtt: \"read_only\" must be true or false"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "mqtt": {"broker": "b"}})",           "mqtt: unknown key \"broker\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "history": []})",             "history: must be an object"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "history": {"size": "1GB"}})", "history: unknown key \"size\""},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "history": {"keep": "1"}})",   "history keep: expected a whole number"},
      {R"({"units": [{"name": "a", "data_id": 1, "transport": {"rtu": "/d"}}], "history": {"max_size": 5}})", "history: \"max_size\" must be a non-empty string"},
  };
  // clang-format on
  for (const BadSiteText& test : cases) {
    try {
      parse_site_text(test.text, "site.json");
      ADD_FAILURE() << "accepted: " << test.text;
    } catch (const UsageError& error) {
      const std::string message = error.what();
      EXPECT_EQ(message.rfind("site.json", 0), 0u) << message;
      EXPECT_NE(message.find(test.says), std::string::npos)
          << test.text << "\n  said: " << message << "\n  lacks: " << test.says;
      EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
    }
  }
}

}  // namespace
}  // namespace velmocair::cli
