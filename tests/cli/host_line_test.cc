// velmocair-host on lines and gateways that behave as real ones do, against
// the simulator over Modbus RTU on a pseudo-terminal and Modbus/TCP on
// loopback: stray bytes after a reply, the silence a unit needs between
// frames, late replies and another unit's frames, a gateway that closes idle
// connections or does not answer at all, a serial port another process
// holds, the messages of what went wrong, and a time-out that follows a slow
// line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kStartLimit{60000};
constexpr milliseconds kPollEvery{20};
constexpr milliseconds kStopGrace{10000};

sim::FaultRule fault(sim::FaultKind kind, const std::function<void(sim::FaultRule&)>& set = {}) {
  sim::FaultRule rule;
  rule.kind = kind;
  if (set) {
    set(rule);
  }
  return rule;
}

// Waits until the file holds a line starting with `prefix`, or `process` ends.
bool wait_for_line(ChildProcess& process, const std::string& path, const std::string& prefix) {
  const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
  while (std::chrono::steady_clock::now() < deadline && !process.ended()) {
    for (const std::string& line : lines_of(read_file(path))) {
      if (line.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    std::this_thread::sleep_for(kPollEvery);
  }
  return false;
}

class HostLine : public ::testing::Test {
 protected:
  ScratchFolder folder_;
};

// One stray byte after every reply, as some line drivers send, and a line
// paced at 9600 baud whose unit leaves unanswered a request that comes before
// 3.5 characters of silence, apart and together.
TEST_F(HostLine, DiscardsStrayBytesAndKeepsTheSilenceBeforeEveryRequest) {
  struct Row {
    const char* name;
    std::vector<std::uint8_t> stray;
    int pace_baud;  // 0: replies at once, no silence kept
  };
  // clang-format off
  // name                              stray bytes  line paced at
  const Row rows[] = {
      {"a stray 00",                     {0x00},      0},
      {"a strict line",                  {},          9600},
      {"a stray ff on a strict line",    {0xFF},      9600},
  };
  // clang-format on
  for (const Row& row : rows) {
    sim::ServerOptions options;
    options.pace_baud = row.pace_baud;
    options.strict_silence = row.pace_baud > 0;
    if (!row.stray.empty()) {
      options.faults.rules = {fault(sim::FaultKind::trailing_bytes,
                                    [&row](sim::FaultRule& r) { r.trailing_bytes = row.stray; })};
    }
    SimulatedBus bus(Transport::rtu, options);
    const HostRun run = run_host(
        folder_, joined(bus.host_options(), {"--cycles", "2", "--interval", "0", "--status"}));
    EXPECT_EQ(run.status, 0) << row.name << "\n" << run.transcript();
    EXPECT_EQ(run.status_documents().size(), 2u) << row.name;
    EXPECT_EQ(bus.server().faults(sim::FaultKind::trailing_bytes), row.stray.empty() ? 0u : 40u)
        << row.name;
    EXPECT_EQ(bus.server().early_requests(), 0u) << row.name;
  }
}

// A unit that answers after the time-out and the drain: its late reply must
// neither answer the next request nor cost another unit on the line its cycle.
TEST_F(HostLine, SetsAsideALateReplyAndAnotherUnitsFrame) {
  {
    sim::ServerOptions options;
    options.faults.rules = {fault(sim::FaultKind::delay, [](sim::FaultRule& r) {
      r.delay_ms = 500;
      r.first_cycle = r.last_cycle = 1;
      r.request = sim::RequestKind::read_registers;
    })};
    SimulatedBus bus(Transport::rtu, options);
    const HostRun run = run_host(
        folder_, joined(bus.host_options(),
                        {"--cycles", "3", "--interval", "0", "--timeout-ms", "300", "--status"}));
    EXPECT_EQ(run.err_containing("cycle 1 unit " + bus.host_options()[1] + ": no reply").size(), 1u)
        << run.transcript();
    EXPECT_EQ(run.err.size(), 1u) << "cycles 2 and 3 complete\n" << run.transcript();
    EXPECT_EQ(run.status_documents().size(), 2u);
  }
  // Unit 1 answers 700 ms late, while unit 2 is polled; the line is paced so
  // that unit 2's cycle outlasts the late reply.
  sim::ServerOptions options;
  options.unit_ids = {1, 2};
  options.pace_baud = 9600;
  options.faults.rules = {fault(sim::FaultKind::delay, [](sim::FaultRule& r) {
    r.delay_ms = 700;
    r.unit_id = 1;
  })};
  SimulatedBus bus(Transport::rtu, options);
  const std::string site_path = bus.write_site(folder_, {
                                                            {"unit1", 1},
                                                            {"unit2", 2}
  });
  // One try per exchange: a retry would take the late reply of its own
  // request (the same data), and this is about one unit's late reply
  // meeting another unit's exchange.
  const HostRun run = run_host(folder_, {"--site", site_path, "--cycles", "3", "--interval", "0",
                                         "--timeout-ms", "300", "--retries", "0", "--status"});
  EXPECT_EQ(run.err_containing("unit unit1: no reply within 300 ms").size(), 3u)
      << run.transcript();
  EXPECT_TRUE(run.err_containing("unit unit2").empty()) << run.transcript();
  EXPECT_EQ(run.status_documents().size(), 3u) << "unit 2's cycles";
}

// A port whose driver has no RS-485 mode (a pseudo-terminal) gets RTS
// switched from user space, said in one line at start.
TEST_F(HostLine, SwitchesRtsFromUserSpaceWhereTheDriverHasNoRs485Mode) {
  SimulatedBus bus(Transport::rtu, sim::ServerOptions{});
  const std::string port = bus.server().pty_path();
  const HostRun run = run_host(folder_, {"--rtu", port, "--rs485", "--cycles", "1", "--status"});
  EXPECT_EQ(run.status, 0) << run.transcript();
  // The reason is the driver's own: ENOTTY from the kernel, ENOSYS from an
  // emulator that does not pass the ioctl on.
  ASSERT_EQ(run.err.size(), 1u) << run.transcript();
  const std::string& line = run.err[0];
  const std::string head =
      "velmocair-host: rtu " + port + ": RS-485: its driver has no RS-485 mode (";
  const std::string tail = "): RTS switched from user space around each request";
  EXPECT_EQ(line.rfind(head, 0), 0u) << line;
  EXPECT_TRUE(line.size() > head.size() + tail.size() &&
              line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
      << line;
  EXPECT_EQ(run.status_documents().size(), 1u);
}

// A gateway that closes connections idle for 300 ms, polled every 600 ms.
TEST_F(HostLine, SendsAgainOnANewConnectionWhenTheGatewayClosedAnIdleOne) {
  sim::ServerOptions options;
  options.idle_close_ms = 300;
  SimulatedBus bus(Transport::tcp, options);
  const HostRun run = run_host(
      folder_, joined(bus.host_options(), {"--cycles", "3", "--interval", "0.6", "--status"}));
  EXPECT_EQ(run.status, 0) << run.transcript();
  EXPECT_EQ(run.status_documents().size(), 3u);
}

// A gateway that closes the connection as it receives a write: closed before
// any byte of the reply, the write is sent once more on a new connection;
// closed part-way through the reply, it is not, since the unit has begun to
// answer it.
TEST_F(HostLine, SendsAgainOnlyARequestWhoseReplyHadNotBegun) {
  struct Row {
    sim::FaultKind fault;
    std::uint64_t writes;
    const char* says;
  };
  const Row rows[] = {
  // The write reached the unit: it is never sent again.
      {sim::FaultKind::drop_connection, 1, "no reply: connection closed by the peer"                 },
      {sim::FaultKind::cut_reply,       1, "no reply: connection closed by the peer during the reply"},
  };
  for (const Row& row : rows) {
    sim::ServerOptions options;
    options.faults.rules = {
        fault(row.fault, [](sim::FaultRule& r) { r.request = sim::RequestKind::write_register; })};
    SimulatedBus bus(Transport::tcp, options);
    const HostRun run = run_host(
        folder_,
        joined({"command", "temperature", "22", "--timeout-ms", "300"}, bus.host_options()));
    EXPECT_EQ(run.status, 1) << run.transcript();
    EXPECT_EQ(run.out_starting("command "),
              std::vector<std::string>{std::string("command temperature 22: ") + row.says})
        << run.transcript();
    EXPECT_EQ(bus.server().writes(), row.writes) << sim::fault_name(row.fault);
  }
}

// A poller holds the serial line: a command from a second host, and another
// program that honours the advisory lock (pyserial's exclusive mode, under
// pymodbus's serial client), see it taken; the poller's cycles go on
// undisturbed.
TEST_F(HostLine, HoldsTheSerialPortForOneProcess) {
  SimulatedBus bus(Transport::rtu, sim::ServerOptions{});
  const std::string port = bus.server().pty_path();
  ChildProcess poller({VELMOCAIR_HOST_PATH, "--rtu", port, "--interval", "0.1", "--status"},
                      folder_.path("poller.out"), folder_.path("poller.err"));
  ASSERT_TRUE(wait_for_line(poller, folder_.path("poller.out"), "{"))
      << read_file(folder_.path("poller.err"));

  const HostRun command = run_host(folder_, {"command", "temperature", "22", "--rtu", port});
  EXPECT_EQ(command.status, 1) << command.transcript();
  // The holder's name is the emulator's where one runs the host.
  ASSERT_EQ(command.err.size(), 1u) << command.transcript();
  EXPECT_EQ(command.err[0].rfind("velmocair-host: cannot open rtu " + port +
                                     ": in use by process " + std::to_string(poller.pid()) + " (",
                                 0),
            0u)
      << command.err[0];
  EXPECT_TRUE(command.out_starting("command ").empty()) << "nothing was sent";

  ChildProcess pyserial({"/usr/bin/python3", "-c",
                         "import serial, sys\n"
                         "try:\n"
                         "    serial.Serial(sys.argv[1], exclusive=True)\n"
                         "except serial.SerialException as refused:\n"
                         "    print(refused)\n"
                         "    sys.exit(0)\n"
                         "sys.exit(3)\n",
                         port},
                        folder_.path("pyserial.out"), folder_.path("pyserial.err"),
                        Runs::on_machine);
  EXPECT_EQ(pyserial.wait(kStartLimit), 0) << read_file(folder_.path("pyserial.err"));
  EXPECT_NE(read_file(folder_.path("pyserial.out")).find("Could not exclusively lock port"),
            std::string::npos);

  poller.terminate(kStopGrace);
  EXPECT_EQ(read_file(folder_.path("poller.err")), "") << "the poller's cycles all completed";
}

// A listening socket whose queue of connections is full, so that a further
// connection attempt is neither accepted nor refused.
class UnansweredEndpoint {
 public:
  UnansweredEndpoint() : listener_(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 0);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    for (int& filler : fillers_) {
      filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
  }
  ~UnansweredEndpoint() {
    for (const int filler : fillers_) {
      close(filler);
    }
    close(listener_);
  }
  UnansweredEndpoint(const UnansweredEndpoint&) = delete;
  UnansweredEndpoint& operator=(const UnansweredEndpoint&) = delete;
  std::string endpoint() const { return "127.0.0.1:" + std::to_string(port_); }

 private:
  int listener_;
  int fillers_[2] = {-1, -1};
  int port_ = 0;
};

TEST_F(HostLine, NamesWhatWentWrongByItsMeaning) {
  struct Row {
    const char* name;
    sim::FaultRule rule;
    const char* says;
  };
  // clang-format off
  // name             fault                                                                              what the failed cycle says
  const Row rows[] = {
      {"exception 0A",  fault(sim::FaultKind::exception, [](sim::FaultRule& r) { r.exception_code = 10; }), "exception 0A: gateway path unavailable"},
      {"exception 0B",  fault(sim::FaultKind::exception, [](sim::FaultRule& r) { r.exception_code = 11; }), "exception 0B: gateway target device failed to respond"},
      {"peer close",    fault(sim::FaultKind::drop_connection),                                             "connection closed by the peer"},
  };
  // clang-format on
  const std::vector<std::string> options = {"--cycles", "1", "--timeout-ms", "300"};
  for (const Row& row : rows) {
    sim::ServerOptions server;
    server.faults.rules = {row.rule};
    SimulatedBus bus(Transport::tcp, server);
    const HostRun run = run_host(folder_, joined(bus.host_options(), options));
    EXPECT_EQ(run.err, std::vector<std::string>{"velmocair-host: cycle 1 unit " +
                                                bus.host_options()[1] + ": " + row.says})
        << row.name << "\n"
        << run.transcript();
  }
  const UnansweredEndpoint unanswered;
  const HostRun run = run_host(folder_, joined({"--tcp", unanswered.endpoint()}, options));
  EXPECT_EQ(
      run.err_containing(unanswered.endpoint() + ": connection timed out after 300 ms").size(), 1u)
      << run.transcript();
}

// A host left polling a port nobody listens on, as fast as it may: in the
// two seconds it runs, backing off from 0.5 s it makes three or four
// attempts (at most eight, were the run stretched to a minute), and says
// once that it backs off.
TEST_F(HostLine, BacksOffFromAnEndpointThatRefuses) {
  const std::string endpoint = "127.0.0.1:" + std::to_string(closed_tcp_port());
  ChildProcess host({VELMOCAIR_HOST_PATH, "--tcp", endpoint, "--interval", "0"},
                    folder_.path("host.out"), folder_.path("host.err"));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  host.terminate(kStopGrace);
  const std::vector<std::string> err = lines_of(read_file(folder_.path("host.err")));
  const auto attempts = std::count_if(err.begin(), err.end(), [&](const std::string& line) {
    return line.find(": cannot open tcp " + endpoint) != std::string::npos;
  });
  EXPECT_GE(attempts, 1);
  EXPECT_LE(attempts, 8);
  EXPECT_EQ(std::count_if(err.begin(), err.end(),
                          [](const std::string& line) {
                            return line.find("opening it again in 0.5 s") != std::string::npos;
                          }),
            1);
}

// At 110 baud a request alone takes 727 ms on the wire: without --timeout-ms
// the time-out follows the line.
TEST_F(HostLine, FollowsASlowLineWithItsDefaultTimeout) {
  sim::ServerOptions options;
  options.pace_baud = 110;
  SimulatedBus bus(Transport::rtu, options);
  const HostRun run = run_host(
      folder_, joined({"command", "temperature", "22", "--baud", "110"}, bus.host_options()));
  EXPECT_EQ(run.status, 0) << run.transcript();
  EXPECT_EQ(run.out_starting("command "),
            std::vector<std::string>{"command temperature 22: confirmed"});
}

}  // namespace
}  // namespace velmocair::testing
