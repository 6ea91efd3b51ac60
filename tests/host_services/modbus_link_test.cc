// The host's Modbus master against the unit simulator, over Modbus/TCP on
// loopback and Modbus RTU on a pseudo-terminal: replies reach the caller as
// PDUs, failures come back as values with a text, and a late reply is never
// taken for the answer to the next request.
#include "host/services/modbus_link.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "simulator/server.h"

namespace {

using sitehost::LinkResult;
using Bytes = std::vector<unsigned char>;
namespace sim = velmocair::sim;

constexpr std::chrono::milliseconds kTimeout{200};
// One try per exchange: these tests see each fault's first answer.
constexpr sitehost::LinkTiming kTiming{kTimeout, true, 0};
// Longer than the response time-out and the drain after it: the late reply
// comes while the master waits for the reply to its next request.
constexpr int kLateByMs = 400;

const ModbusRequest kCoils8001{ModbusRequest::read_bits, 8001, 32, 0};
const ModbusRequest kRegisters8001{ModbusRequest::read_registers, 8001, 2, 0};
const ModbusRequest kRegisters3501{ModbusRequest::read_registers, 3501, 2, 0};

enum class Transport { tcp, rtu };

std::string transport_name(const ::testing::TestParamInfo<Transport>& info) {
  return info.param == Transport::tcp ? "Tcp" : "Rtu";
}

// A simulated unit (address 1) and a master on the same bus.
class ModbusLinkTest : public ::testing::TestWithParam<Transport> {
 protected:
  void serve(std::vector<sim::FaultRule> faults = {}) {
    sim::ServerOptions options;
    options.tcp_port = GetParam() == Transport::tcp ? 0 : -1;
    options.rtu_pty = GetParam() == Transport::rtu;
    options.faults.rules = std::move(faults);
    server_ = std::make_unique<sim::Server>(options);
    server_->start();
    sitehost::BusAddress address;
    if (GetParam() == Transport::tcp) {
      address.endpoint = {"127.0.0.1", server_->tcp_port()};
    } else {
      address.kind = sitehost::BusAddress::rtu;
      address.line.device = server_->pty_path();
      address.line.baud = 9600;
    }
    link_ = std::make_unique<sitehost::ModbusLink>(address, kTiming);
  }

  LinkResult exchange(const ModbusRequest& request, int unit_id = 1) {
    pdu_.clear();
    return link_->exchange(unit_id, request, pdu_);
  }

  static sim::FaultRule first_cycle(sim::FaultKind kind, sim::RequestKind request) {
    sim::FaultRule rule;
    rule.kind = kind;
    rule.request = request;
    rule.first_cycle = 0;
    rule.last_cycle = 0;  // before the first read of coil 8001
    return rule;
  }

  // The PDU of a register reply holding `values`.
  static Bytes registers_pdu(const std::vector<std::uint16_t>& values) {
    Bytes pdu{0x03, static_cast<unsigned char>(2 * values.size())};
    for (const std::uint16_t value : values) {
      pdu.push_back(static_cast<unsigned char>(value >> 8));
      pdu.push_back(static_cast<unsigned char>(value & 0xFF));
    }
    return pdu;
  }

  std::unique_ptr<sim::Server> server_;
  std::unique_ptr<sitehost::ModbusLink> link_;
  Bytes pdu_;
};

TEST_P(ModbusLinkTest, HandsOverTheReplyPduOfWhatTheUnitHolds) {
  serve();
  ASSERT_TRUE(exchange(kCoils8001).is_ok());
  const std::vector<std::uint8_t> coils = server_->coils(1, 8001, 32);
  ASSERT_EQ(pdu_.size(), 2u + 4u);
  EXPECT_EQ(pdu_[0], 0x01);
  EXPECT_EQ(pdu_[1], 4);
  for (int coil = 0; coil < 32; ++coil) {
    EXPECT_EQ((pdu_[2 + coil / 8] >> (coil % 8)) & 1, coils[coil]) << "coil " << 8001 + coil;
  }
  ASSERT_TRUE(exchange(kRegisters3501).is_ok());
  EXPECT_EQ(pdu_, registers_pdu(server_->registers(1, 3501, 2)));
}

TEST_P(ModbusLinkTest, PassesTheEchoOfAWriteOnUnjudged) {
  serve({first_cycle(sim::FaultKind::wrong_echo, sim::RequestKind::write_register)});
  ASSERT_TRUE(exchange({ModbusRequest::write_register, 3501, 1, 260}).is_ok());
  EXPECT_EQ(pdu_, (Bytes{0x06, 0x0D, 0xAD, 0x01, 0x05}));  // 261: the value plus one
  EXPECT_EQ(server_->registers(1, 3501, 1)[0], 260);
}

TEST_P(ModbusLinkTest, PassesAnExceptionReplyOn) {
  sim::FaultRule rule = first_cycle(sim::FaultKind::exception, sim::RequestKind::read_registers);
  rule.exception_code = 2;
  serve({rule});
  ASSERT_TRUE(exchange(kRegisters3501).is_ok());
  EXPECT_EQ(pdu_, (Bytes{0x83, 0x02}));
  EXPECT_EQ(link_->counters(1).exceptions, (std::map<unsigned, std::uint64_t>{
                                               {2, 1}
  }));
}

TEST_P(ModbusLinkTest, ReportsAnUnansweredUnitAsNoReply) {
  serve();
  const LinkResult result = exchange(kCoils8001, 2);
  EXPECT_EQ(result.status, LinkResult::no_reply);
  EXPECT_EQ(result.text, "no reply within 200 ms");
  EXPECT_EQ(result.other_unit, 0) << "silence";
  EXPECT_TRUE(exchange(kCoils8001, 1).is_ok()) << "the bus serves the next unit";
  // Counted per unit address.
  EXPECT_EQ(link_->counters(2).timeouts, 1u);
  EXPECT_EQ(link_->counters(2).replies, 0u);
  EXPECT_EQ(link_->counters(1).timeouts, 0u);
  EXPECT_EQ(link_->counters(1).replies, 1u);
}

TEST_P(ModbusLinkTest, NeverTakesALateReplyForTheNextRequest) {
  sim::FaultRule late = first_cycle(sim::FaultKind::delay, sim::RequestKind::read_registers);
  late.delay_ms = kLateByMs;
  serve({late});
  EXPECT_EQ(exchange(kRegisters8001).status, LinkResult::no_reply);
  // The late register reply must not answer this coil read (which on TCP
  // waits behind it on the same connection, and may time out)...
  if (exchange(kCoils8001).is_ok() || GetParam() == Transport::rtu) {
    ASSERT_EQ(pdu_.size(), 6u);
    EXPECT_EQ(pdu_[0], 0x01);
    EXPECT_EQ(pdu_[1], 4);
  }
  // ...nor the next register read, of other registers.
  ASSERT_TRUE(exchange(kRegisters3501).is_ok());
  EXPECT_EQ(pdu_, registers_pdu(server_->registers(1, 3501, 2)));
}

TEST_P(ModbusLinkTest, RecoversFromABrokenFrame) {
  serve({first_cycle(sim::FaultKind::broken_frame, sim::RequestKind::read_registers)});
  const LinkResult broken = exchange(kRegisters3501);
  EXPECT_EQ(broken.status, LinkResult::broken_frame);
  if (GetParam() == Transport::rtu) {
    EXPECT_EQ(broken.text, "bad CRC");
  } else {
    // A TCP frame carries no checksum: the wrong function code tells.
    EXPECT_NE(broken.text.find("a reply under function"), std::string::npos) << broken.text;
  }
  ASSERT_TRUE(exchange(kCoils8001).is_ok());
  EXPECT_EQ(pdu_[0], 0x01);
}

INSTANTIATE_TEST_SUITE_P(Transports, ModbusLinkTest,
                         ::testing::Values(Transport::tcp, Transport::rtu), transport_name);

TEST(ModbusLinkTcp, SendsOnceMoreWhenThePeerClosedAndReconnectsAfter) {
  sim::ServerOptions options;
  options.tcp_port = 0;
  sim::FaultRule drop;
  drop.kind = sim::FaultKind::drop_connection;
  drop.request = sim::RequestKind::read_registers;
  drop.last_cycle = 0;
  options.faults.rules = {drop};
  sim::Server server(options);
  server.start();
  sitehost::BusAddress address;
  address.endpoint = {"127.0.0.1", server.tcp_port()};
  sitehost::ModbusLink link(address, kTiming);
  Bytes pdu;
  // The request goes out twice, each time on a new connection the unit drops.
  const LinkResult dropped = link.exchange(1, kRegisters3501, pdu);
  EXPECT_EQ(dropped.status, LinkResult::link_down);
  EXPECT_EQ(dropped.text, "connection closed by the peer");
  EXPECT_EQ(server.faults(sim::FaultKind::drop_connection), 2u) << "sent once more, never again";
  EXPECT_EQ(link.counters(1).resends, 1u);
  EXPECT_TRUE(link.exchange(1, kCoils8001, pdu).is_ok());
  EXPECT_EQ(link.counters(1).reconnects, 2u);
}

TEST(ModbusLinkTcp, ReportsAnEndpointNobodyListensOnAsLinkDown) {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in bound{};
  bound.sin_family = AF_INET;
  bound.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof bound;
  ASSERT_EQ(bind(probe, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
  ASSERT_EQ(getsockname(probe, reinterpret_cast<sockaddr*>(&bound), &size), 0);
  close(probe);  // the port is now free and closed

  sitehost::BusAddress address;
  address.endpoint = {"127.0.0.1", ntohs(bound.sin_port)};
  sitehost::ModbusLink link(address, kTiming);
  Bytes pdu;
  const LinkResult result = link.exchange(1, kCoils8001, pdu);
  EXPECT_EQ(result.status, LinkResult::link_down);
  EXPECT_EQ(result.text.rfind("cannot open " + address.name(), 0), 0u) << result.text;
}

TEST(ModbusLinkTcp, ReportsAHostNameThatDoesNotResolve) {
  sitehost::BusAddress address;
  address.endpoint = {"nosuchhost.invalid", 502};  // the .invalid domain never resolves
  sitehost::ModbusLink link(address, kTiming);
  Bytes pdu;
  const LinkResult result = link.exchange(1, kCoils8001, pdu);
  EXPECT_EQ(result.status, LinkResult::link_down);
  EXPECT_EQ(result.text.rfind("cannot resolve host nosuchhost.invalid: ", 0), 0u) << result.text;
  EXPECT_EQ(result.text.find("refused"), std::string::npos) << result.text;
}

TEST(ModbusLinkTcp, ConnectsByHostName) {
  sim::ServerOptions options;
  options.tcp_port = 0;
  sim::Server server(options);
  server.start();
  sitehost::BusAddress address;
  address.endpoint = {"localhost", server.tcp_port()};
  sitehost::ModbusLink link(address, kTiming);
  Bytes pdu;
  const LinkResult result = link.exchange(1, kCoils8001, pdu);
  EXPECT_TRUE(result.is_ok()) << result.text;
}

TEST(ModbusLinkRtu, ReportsAMissingSerialDeviceAsLinkDown) {
  sitehost::BusAddress address;
  address.kind = sitehost::BusAddress::rtu;
  address.line.device = "/dev/velmocair-no-such-line";
  address.line.baud = 9600;
  sitehost::ModbusLink link(address, kTiming);
  Bytes pdu;
  const LinkResult result = link.exchange(1, kCoils8001, pdu);
  EXPECT_EQ(result.status, LinkResult::link_down);
  EXPECT_NE(result.text.find(address.line.device), std::string::npos) << result.text;
}

}  // namespace
