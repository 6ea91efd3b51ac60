// The bus scanner in-process against the simulator and a scripted Modbus/TCP
// peer: the verdicts on slow, busy and lossy units and on a device whose
// values no unit of this type holds, one device reported once through a
// link that passes every line setting and over TCP when it ignores the unit
// id, and a late reply after a settings change garbled on the line.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "cli/scan/bus_scanner.h"
#include "host/services/modbus_link.h"
#include "tests/support/host_run.h"

namespace velmocair::testing {
namespace {

using std::chrono::milliseconds;

class Recorder : public cli::ScanListener {
 public:
  void probed(std::size_t, std::size_t, milliseconds) override {}
  void found(const cli::FoundUnit& unit) override { found_.push_back(unit); }
  void garbled(const sitehost::BusAddress&, const std::vector<int>&) override {}
  void late(const sitehost::BusAddress&, int unit_id, milliseconds) override {
    late_.push_back(unit_id);
  }

  std::vector<cli::FoundUnit> found_;
  std::vector<int> late_;
};

// A Modbus/TCP device that answers every read at every unit id, every coil
// off and every register holding one value: a flat map.
class FlatMapPeer {
 public:
  static constexpr std::uint16_t kValue = 0x1234;

  FlatMapPeer() : listener_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(listener_, 4);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~FlatMapPeer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
  }
  int port() const { return port_; }

 private:
  static constexpr int kWaitMs = 20;
  static constexpr std::size_t kHeader = 7;

  bool ready(int fd) const {
    pollfd watched{fd, POLLIN, 0};
    return ::poll(&watched, 1, kWaitMs) > 0;
  }
  void serve() {
    while (!stop_) {
      if (!ready(listener_)) {
        continue;
      }
      const int connection = ::accept(listener_, nullptr, nullptr);
      unsigned char request[260];
      while (!stop_ && connection >= 0) {
        if (!ready(connection)) {
          continue;
        }
        if (::recv(connection, request, kHeader + 5, MSG_WAITALL) != kHeader + 5) {
          break;
        }
        const int count = request[10] << 8 | request[11];
        std::vector<unsigned char> reply(request, request + kHeader + 1);
        if (request[7] == 0x01) {
          reply.push_back(static_cast<unsigned char>((count + 7) / 8));
          reply.insert(reply.end(), reply.back(), 0);
        } else {
          reply.push_back(static_cast<unsigned char>(2 * count));
          for (int index = 0; index < count; ++index) {
            reply.insert(reply.end(), {kValue >> 8, kValue & 0xFF});
          }
        }
        const std::size_t pdu = reply.size() - kHeader + 1;
        reply[4] = static_cast<unsigned char>(pdu >> 8);
        reply[5] = static_cast<unsigned char>(pdu & 0xFF);
        ::send(connection, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
      if (connection >= 0) {
        ::close(connection);
      }
    }
  }

  int listener_;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

sitehost::BusAddress serial_setting(const std::string& device, int baud, char parity) {
  sitehost::BusAddress bus;
  bus.kind = sitehost::BusAddress::rtu;
  bus.line.device = device;
  bus.line.baud = baud;
  bus.line.parity = parity;
  return bus;
}

sitehost::BusAddress tcp_endpoint(int port) {
  sitehost::BusAddress bus;
  bus.kind = sitehost::BusAddress::tcp;
  bus.endpoint = {"127.0.0.1", port};
  return bus;
}

std::vector<cli::FoundUnit> scanned(const cli::ScanPlan& plan, Recorder& recorder) {
  cli::BusScanner scanner(plan, recorder);
  EXPECT_TRUE(scanner.open().is_ok());
  EXPECT_TRUE(scanner.run([] { return false; }).is_ok());
  return recorder.found_;
}

sim::FaultRule fault(sim::FaultKind kind, double probability, int delay_ms = 0, int code = 4,
                     sim::RequestKind request = sim::RequestKind::any) {
  sim::FaultRule rule;
  rule.request = request;
  rule.kind = kind;
  rule.probability = probability;
  rule.delay_ms = delay_ms;
  rule.exception_code = code;
  return rule;
}

// What a scan of one set-up must find: a single device, its verdict and how
// polling must be set for it.
struct Expected {
  int unit_id;
  bool this_type;
  bool slower_than_polling;  // a time-out in its command
  bool asked_again;          // retries in its command
  bool every_setting;
  bool every_unit_id;
};

struct ScanRow {
  const char* name;
  Transport transport;
  std::vector<int> served;  // unit ids the simulator serves
  std::vector<sim::FaultRule> faults;
  std::vector<char> parities;  // serial settings scanned at 19200 baud
  std::vector<int> unit_ids;
  Expected expected;
};

class BusScan : public ::testing::Test {};

TEST_F(BusScan, JudgesEachDeviceOnceAsPollingWouldMeetIt) {
  using sim::FaultKind;
  // clang-format off
  const ScanRow rows[] = {
    // A unit answering in 700 ms, after the probe's and the poll's time-outs,
    // at the last address probed: asked again with a long wait.
    {"slow", Transport::rtu, {4}, {fault(FaultKind::delay, 1, 700)}, {'N'}, {3, 4},
     {4, true, true, false, false, false}},
    // Exception 06 on 30 % of the reads; no reply to 20 % of the register
    // reads (a unit losing the probe's request is not heard at that setting).
    {"busy", Transport::rtu, {2}, {fault(FaultKind::exception, 0.3, 0, 6)}, {'N'}, {2},
     {2, true, false, true, false, false}},
    {"lossy", Transport::tcp, {2}, {fault(FaultKind::no_reply, 0.2, 0, 0, sim::RequestKind::read_registers)}, {}, {1, 2},
     {2, true, false, true, false, false}},
    // The simulator without line settings of its own hears at every setting.
    {"settings-blind", Transport::rtu, {3}, {}, {'N', 'E', 'O'}, {3},
     {3, true, false, false, true, false}},
    {"every unit id", Transport::tcp, {1, 2, 3, 4}, {}, {}, {1, 2, 3, 4},
     {1, true, false, false, false, true}},
  };
  // clang-format on
  for (const ScanRow& row : rows) {
    SCOPED_TRACE(row.name);
    sim::ServerOptions options;
    options.unit_ids = row.served;
    options.faults.rules = row.faults;
    SimulatedBus bus(row.transport, options);
    cli::ScanPlan plan;
    for (const char parity : row.parities) {
      plan.settings.push_back(serial_setting(bus.server().pty_path(), 19200, parity));
    }
    if (row.transport == Transport::tcp) {
      plan.settings.push_back(tcp_endpoint(bus.server().tcp_port()));
    }
    plan.unit_ids = row.unit_ids;
    Recorder recorder;
    const std::vector<cli::FoundUnit> found = scanned(plan, recorder);
    ASSERT_EQ(found.size(), 1u);
    const cli::FoundUnit& unit = found[0];
    const Expected& expected = row.expected;
    EXPECT_EQ(unit.unit_id, expected.unit_id);
    EXPECT_EQ(unit.this_type(), expected.this_type)
        << unit.answered << " answered; "
        << (unit.values.failed.empty() ? "" : unit.values.failed[0]);
    EXPECT_EQ(unit.values.passed.size(), 4u);
    EXPECT_EQ(unit.timeout.has_value(), expected.slower_than_polling);
    EXPECT_EQ(unit.retries.has_value(), expected.asked_again);
    EXPECT_EQ(unit.every_setting, expected.every_setting);
    EXPECT_EQ(unit.every_unit_id, expected.every_unit_id);
    EXPECT_EQ(unit.name, "unit-" + std::to_string(expected.unit_id));
    if (unit.timeout) {
      EXPECT_GE(unit.slowest, milliseconds(700));
      EXPECT_GT(*unit.timeout, unit.slowest);
    }
  }
}

TEST_F(BusScan, RefusesAFlatMapThatAnswersEveryUnitIdOnceWithTheReason) {
  const FlatMapPeer peer;
  cli::ScanPlan plan;
  plan.settings = {tcp_endpoint(peer.port())};
  plan.unit_ids = {1, 2, 3};
  Recorder recorder;
  const std::vector<cli::FoundUnit> found = scanned(plan, recorder);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(found[0].every_unit_id);
  EXPECT_EQ(found[0].answered, found[0].reads);
  EXPECT_FALSE(found[0].this_type());
  EXPECT_EQ(found[0].values.failed,
            (std::vector<std::string>{
                "register 8001 = 4660, a state word (0 or 1)",
                "register 3501 = 4660, the return-air temperature set-point (5.0..45.0 C)",
                "register 3505 = 4660 not above register 3506 = 4660, the temperature alarm "
                "limits"}));
}

// A unit address that answers at two settings, differently (its cycle
// marks change the registers), is two devices: distinct names and data ids.
TEST_F(BusScan, NamesAUnitAddressFoundTwiceApart) {
  sim::ServerOptions options;
  options.unit_ids = {5};
  options.mark_generations = true;
  SimulatedBus bus(Transport::rtu, options);
  cli::ScanPlan plan;
  plan.settings = {serial_setting(bus.server().pty_path(), 19200, 'N'),
                   serial_setting(bus.server().pty_path(), 19200, 'E')};
  plan.unit_ids = {5};
  Recorder recorder;
  const std::vector<cli::FoundUnit> found = scanned(plan, recorder);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_FALSE(found[0].every_setting);
  EXPECT_EQ(found[0].name, "unit-5");
  EXPECT_EQ(found[1].name, "unit-5-2");
  EXPECT_NE(found[0].data_id, found[1].data_id);
}

// The simulator's unit at 115200 baud answers 300 ms late; the master gave up
// after 50 ms and changed to 9600 baud: the reply crosses the line at 9600 and
// cannot be a valid frame.
TEST_F(BusScan, ALateReplyAfterASettingsChangeIsGarbled) {
  sim::ServerOptions options;
  options.unit_ids = {247};
  options.line = sim::LineFormat{115200, 'N', 8, 1};
  options.faults.rules = {fault(sim::FaultKind::delay, 1, 300)};
  SimulatedBus bus(Transport::rtu, options);
  sitehost::ModbusLink link(serial_setting(bus.server().pty_path(), 115200, 'N'),
                            {milliseconds(50), false});
  ModbusRequest request;
  request.kind = ModbusRequest::read_bits;
  request.address = 8001;
  request.count = 32;
  std::vector<unsigned char> pdu;
  ASSERT_EQ(link.exchange(247, request, pdu).status, sitehost::LinkResult::no_reply);
  link.change_line(serial_setting(bus.server().pty_path(), 9600, 'N').line);
  link.set_timing({milliseconds(1000), false});
  EXPECT_FALSE(link.exchange(247, request, pdu).is_ok());
  EXPECT_GT(link.counters(247).broken_frames + link.counters(247).stale_bytes, 0u);
}

}  // namespace
}  // namespace velmocair::testing
