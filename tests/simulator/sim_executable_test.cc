// velmocair-sim as a program: --help, its listening lines, signals and exit
// statuses. Every process is started (through the build's launcher) and
// reaped here, with a bound on time.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "tests/simulator/sim_master.h"
#include "tests/support/child_process.h"

namespace velmocair::sim {
namespace {

using namespace std::chrono_literals;
using Arguments = std::vector<std::string>;
using velmocair::testing::read_file;

constexpr auto kBound = 10s;

// velmocair-sim with its standard output and error in files of a scratch
// folder; killed and reaped by ChildProcess if still running at the end.
class Process {
 public:
  explicit Process(const Arguments& arguments)
      : process_(command_line(arguments), folder_.path("out"), folder_.path("err")) {}

  // The first line of standard output that starts with `prefix`, once
  // written; "" when the process ends or kBound passes first.
  std::string line_starting(const std::string& prefix) {
    return velmocair::testing::wait_for_line(process_, folder_.path("out"), prefix, kBound);
  }
  std::string output() const { return read_file(folder_.path("out")); }
  std::string errors() const { return read_file(folder_.path("err")); }

  void signal(int number) const { process_.signal(number); }
  // The exit status, or -1 when the process was ended by a signal or had to
  // be killed after kBound.
  int wait() { return process_.wait(kBound); }

 private:
  static Arguments command_line(const Arguments& arguments) {
    Arguments line{VELMOCAIR_SIM_PATH};
    line.insert(line.end(), arguments.begin(), arguments.end());
    return line;
  }

  velmocair::testing::ScratchFolder folder_;
  velmocair::testing::ChildProcess process_;
};

// What follows `prefix` in `line`, or "<line>" when the line does not start so.
std::string after(const std::string& line, const std::string& prefix) {
  return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : "<" + line + ">";
}

TEST(SimExecutable, HelpNamesEveryOptionAndExitsZero) {
  Process process({"--help"});
  EXPECT_EQ(process.wait(), 0);
  const std::string text = process.output();
  EXPECT_EQ(text.rfind("usage: velmocair-sim", 0), 0u) << text;
  for (const char* option : {"--tcp", "--rtu", "--unit-id", "--scenario", "--fault", "--seed",
                             "--mark-generations", "--pace-baud", "--help", "--version"}) {
    EXPECT_NE(text.find(option), std::string::npos) << option;
  }
}

TEST(SimExecutable, VersionIsTheProjectsAndExitsZero) {
  Process process({"--version"});
  EXPECT_EQ(process.wait(), 0);
  EXPECT_EQ(process.output(), "velmocair-sim " VELMOCAIR_VERSION "\n");
}

TEST(SimExecutable, ListensAsItSaysAndEndsCleanlyOnSignals) {
  for (const int signal : {SIGTERM, SIGINT}) {
    Process process({"--tcp", "127.0.0.1:0", "--rtu", "--unit-id", "4"});
    const std::string tcp =
        after(process.line_starting("listening tcp "), "listening tcp 127.0.0.1:");
    const std::string rtu = after(process.line_starting("listening rtu "), "listening rtu ");
    ASSERT_TRUE(!tcp.empty() && tcp.find_first_not_of("0123456789") == std::string::npos) << tcp;
    ASSERT_EQ(rtu.rfind("/dev/pts/", 0), 0u) << rtu;
    {
      testing::Master over_tcp(Transport::tcp, tcp, 4);
      testing::Master over_rtu(Transport::rtu, rtu, 4);
      EXPECT_EQ(over_tcp.read_coils(8001, 32).rc, 32);
      EXPECT_EQ(over_rtu.read_registers(3501, 14).rc, 14);
    }
    process.signal(signal);
    EXPECT_EQ(process.wait(), 0) << "signal " << signal;
    EXPECT_EQ(process.errors(), "");
  }
}

TEST(SimExecutable, BadOptionsExitTwoAndCannotStartExitsOne) {
  struct Row {
    Arguments arguments;
    int status;
  };
  // clang-format off
  const Row rows[] = {
      {{"--bogus"},                           2},
      {{"--tcp", "99999"},                    2},
      {{"--unit-id"},                         2},
      {{"--fault", "delay"},                  2},
      {{"--scenario", "/nonexistent.json"},   1},
  };
  // clang-format on
  for (const Row& row : rows) {
    Process process(row.arguments);
    EXPECT_EQ(process.wait(), row.status) << row.arguments[0];
    const std::string errors = process.errors();
    EXPECT_EQ(errors.rfind("velmocair-sim: ", 0), 0u) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
    EXPECT_EQ(process.output(), "") << row.arguments[0];
  }
}

}  // namespace
}  // namespace velmocair::sim
