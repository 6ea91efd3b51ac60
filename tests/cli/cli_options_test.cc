// velmocair-host's command line as the program runs it: a bad option, site
// file, unit configuration or serial device refused with one line and exit
// status 2, and --version. Each option's parsing and each mode's --help are
// checked in-process (option_parsing_test).
#include <gtest/gtest.h>
#include <json/writer.h>

#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

constexpr int kUsage = 2;

struct BadCommandLine {
  std::vector<std::string> arguments;
  const char* says;  // part of the one line on standard error
};

// An option the parser refuses, and what only running finds: a site file
// that cannot be read, a device that is no serial port.
TEST(HostCommandLine, RefusesBadOptionsWithOneLineAndStatus2) {
  // clang-format off
  const BadCommandLine cases[] = {
      {{"--bogus"},                             "unknown option --bogus"},
      {{"--site", "/nonexistent/site.json"},    "cannot read the site file: No such file or directory"},
      {{"--rtu", "/dev/null", "--cycles", "1"}, "cannot open rtu /dev/null: not a serial port"},
      {{"scan", "--rtu", "/dev/null"},          "cannot open rtu /dev/null: not a serial port"},
      {{"scan", "--rtu", "/tmp"},               "cannot open rtu /tmp: not a serial port"},
      {{"--tcp", "a:1", "--mqtt-read-only"},          "--mqtt-read-only: give the broker with --mqtt URL"},
      {{"--tcp", "a:1", "--mqtt", "mqtt://u@b?password_env=VELMOCAIR_UNSET"}, "the environment variable VELMOCAIR_UNSET (password_env) is not set"},
  };
  // clang-format on
  ScratchFolder folder;
  for (const BadCommandLine& test : cases) {
    const HostRun run = run_host(folder, test.arguments);
    const std::string shown = test.arguments.front() + "...";
    EXPECT_EQ(run.status, kUsage) << shown << "\n" << run.transcript();
    EXPECT_TRUE(run.out.empty()) << shown;
    ASSERT_EQ(run.err.size(), 1u) << shown << "\n" << run.transcript();
    EXPECT_EQ(run.err[0].rfind("velmocair-host: ", 0), 0u) << run.err[0];
    EXPECT_NE(run.err[0].find(test.says), std::string::npos)
        << shown << ": \"" << run.err[0] << "\" lacks \"" << test.says << "\"";
  }
}

struct BadSite {
  const char* name;
  Json::Value site;
  const char* says;
};

Json::Value site_of(std::initializer_list<Json::Value> units) {
  Json::Value site(Json::objectValue);
  site["units"] = Json::Value(Json::arrayValue);
  for (const Json::Value& unit : units) {
    site["units"].append(unit);
  }
  return site;
}

Json::Value unit_on(const char* name, int data_id, const char* device, int unit_id, int baud = 0) {
  Json::Value unit(Json::objectValue);
  unit["name"] = name;
  unit["data_id"] = data_id;
  unit["transport"]["rtu"] = device;
  if (baud != 0) {
    unit["transport"]["baud"] = baud;
  }
  unit["setting"]["modbus"]["unit_id"] = unit_id;
  return unit;
}

// Site files the parser, the devices or the buses refuse.
TEST(HostCommandLine, RefusesUnitConfigurationsTheHostCannotRun) {
  Json::Value out_of_range = unit_on("a", 1, "/dev/ttyS9", 1);
  out_of_range["setting"]["modbus"]["unit_id"] = 300;
  Json::Value misspelt = unit_on("a", 1, "/dev/ttyS9", 1);
  misspelt["setting"]["modbus"].removeMember("unit_id");
  misspelt["setting"]["modbus"]["unitid"] = 2;
  // clang-format off
  const BadSite cases[] = {
      {"unit address out of range", site_of({out_of_range}),
       "unit 1 (a) setting modbus: \"unit_id\" must be a whole number 1..247"},
      {"misspelt unit address key", site_of({misspelt}),
       "unit 1 (a) setting modbus: unknown key \"unitid\""},
      {"two units at one address", site_of({unit_on("a", 1, "/dev/ttyS9", 3), unit_on("b", 2, "/dev/ttyS9", 3)}),
       "unit b: unit address 3 on rtu /dev/ttyS9 is taken by unit a"},
      {"one line at two rates", site_of({unit_on("a", 1, "/dev/ttyS9", 1, 9600), unit_on("b", 2, "/dev/ttyS9", 2, 19200)}),
       "unit b: line settings of rtu /dev/ttyS9 differ from those of unit a"},
  };
  // clang-format on
  ScratchFolder folder;
  for (const BadSite& test : cases) {
    const std::string path = folder.path("site.json");
    write_file(path, Json::writeString(Json::StreamWriterBuilder(), test.site));
    const HostRun run = run_host(folder, {"--site", path, "--cycles", "1"});
    EXPECT_EQ(run.status, kUsage) << test.name << "\n" << run.transcript();
    ASSERT_EQ(run.err.size(), 1u) << test.name << "\n" << run.transcript();
    EXPECT_NE(run.err[0].find(test.says), std::string::npos) << test.name << ": " << run.err[0];
  }
}

TEST(HostCommandLine, RefusesABrokenSiteFileWithOneLine) {
  ScratchFolder folder;
  const std::string path = folder.path("site.json");
  write_file(path, "{\"units\": [ {\"name\": \"a\", ");
  const HostRun run = run_host(folder, {"--site", path});
  EXPECT_EQ(run.status, kUsage);
  ASSERT_EQ(run.err.size(), 1u) << run.transcript();
  EXPECT_NE(run.err[0].find(path + ": not valid JSON: line 1, column 27: Missing '}' or object "
                                   "member name"),
            std::string::npos)
      << run.err[0];
}

TEST(HostCommandLine, TakesAnOptionsValueAfterAnEqualsSign) {
  SimulatedBus bus(Transport::tcp, sim::ServerOptions{});
  ScratchFolder folder;
  const std::string trace_path = folder.path("trace.jsonl");
  const HostRun run =
      run_host(folder, {bus.host_options()[0] + "=" + bus.host_options()[1], "--cycles=1",
                        "--interval=0", "--status", "--data-id=77", "--trace=" + trace_path});
  ASSERT_EQ(run.status, 0) << run.transcript();
  EXPECT_EQ(run.status_documents().size(), 1u) << run.transcript();
  const std::vector<Json::Value> published = calls_named(read_trace(trace_path), "SendSP");
  ASSERT_EQ(published.size(), 1u);
  EXPECT_EQ(published[0]["device"].asInt(), 77);
}

TEST(HostCommandLine, PrintsTheProjectsVersion) {
  ScratchFolder folder;
  const HostRun run = run_host(folder, {"--version"});
  EXPECT_EQ(run.status, 0) << run.transcript();
  EXPECT_EQ(run.out, std::vector<std::string>{"velmocair-host " VELMOCAIR_VERSION})
      << run.transcript();
}

}  // namespace
}  // namespace velmocair::testing
