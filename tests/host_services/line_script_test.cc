// The master against byte-exact peers: each row plays what a line or a
// gateway does (bytes and silences) and checks what the master makes of it,
// one row per behaviour found wrong before; the link's counts must add up
// after every row.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/services/modbus_link.h"
#include "host/services/serial_port_lock.h"
#include "tests/host_services/link_identities.h"
#include "tests/host_services/scripted_peer.h"

namespace {

using peer::Bytes;
using peer::Script;
using peer::ScriptedPeer;
using peer::Step;
using sitehost::LinkResult;
using Kind = ScriptedPeer::Kind;
using std::chrono::milliseconds;

constexpr milliseconds kTimeout{200};
constexpr milliseconds kLate{300};    // a reply this long after its request misses kTimeout
constexpr milliseconds kGap{10};      // a silence between two runs of bytes
constexpr milliseconds kLong{20000};  // a time-out only an interrupt ends

const ModbusRequest kCoils{ModbusRequest::read_bits, 8001, 8, 0};
const ModbusRequest kRegisters{ModbusRequest::read_registers, 3501, 2, 0};
const ModbusRequest kOtherRegisters{ModbusRequest::read_registers, 4001, 2, 0};
const ModbusRequest kWrite{ModbusRequest::write_register, 3501, 1, 260};

// The request's unit, function and first address, whichever the framing.
struct Asked {
  unsigned unit;
  unsigned char function;
  unsigned address;
  unsigned count;
};
Asked asked(Kind kind, const Bytes& request) {
  const std::size_t at = kind == Kind::rtu ? 0 : 6;
  return {request[at], request[at + 1],
          static_cast<unsigned>(request[at + 2] << 8 | request[at + 3]),
          static_cast<unsigned>(request[at + 4] << 8 | request[at + 5])};
}

// What a sound unit answers: coils 0x5A..., register N holds N (low 16 bits),
// a write is echoed; so every reply names its request.
Bytes answer_pdu(const Asked& request) {
  if (request.function == 0x01) {
    return {0x01, static_cast<unsigned char>((request.count + 7) / 8), 0x5A};
  }
  if (request.function == 0x03) {
    Bytes pdu{0x03, static_cast<unsigned char>(2 * request.count)};
    for (unsigned i = 0; i < request.count; ++i) {
      pdu.push_back(static_cast<unsigned char>((request.address + i) >> 8));
      pdu.push_back(static_cast<unsigned char>(request.address + i));
    }
    return pdu;
  }
  return {0x06, static_cast<unsigned char>(request.address >> 8),
          static_cast<unsigned char>(request.address), 0x01, 0x04};
}

Bytes framed(Kind kind, const Bytes& request, const Bytes& pdu, int unit = -1) {
  const Asked a = asked(kind, request);
  const unsigned to = unit < 0 ? a.unit : static_cast<unsigned>(unit);
  if (kind == Kind::rtu) {
    Bytes body{static_cast<unsigned char>(to)};
    body.insert(body.end(), pdu.begin(), pdu.end());
    return peer::rtu(body);
  }
  return peer::tcp(peer::transaction_of(request), to, pdu);
}

Bytes reply(Kind kind, const Bytes& request) {
  return framed(kind, request, answer_pdu(asked(kind, request)));
}

Bytes expected_pdu(const ModbusRequest& request) {
  return answer_pdu({1,
                     request.kind == ModbusRequest::read_bits ? static_cast<unsigned char>(1)
                     : request.kind == ModbusRequest::read_registers
                         ? static_cast<unsigned char>(3)
                         : static_cast<unsigned char>(6),
                     static_cast<unsigned>(request.address), static_cast<unsigned>(request.count)});
}

Bytes with_bad_crc(Bytes frame) {
  frame.back() ^= 0xFF;
  return frame;
}

struct Expect {
  LinkResult::Status status;
  const char* text_part = "";  // part of the failure's text
};

struct Row {
  const char* name;
  Kind kind;
  std::vector<ModbusRequest> requests;  // exchanges in turn, with unit 1 unless unit_ids says
  std::vector<Expect> expect;           // one per exchange; ok ones hand over their own reply
  std::function<Script(Kind, const Bytes&, int)> script;
  std::function<void(const sitehost::LinkCounters&, const ScriptedPeer&)> check = nullptr;
  int retries = 0;
  std::vector<int> unit_ids = {};
  milliseconds timeout = kTimeout;
};

const LinkResult::Status ok = LinkResult::ok;

// clang-format off
std::vector<Row> rows() {
  return {
      {"a glitch byte and a silence before the reply", Kind::rtu, {kRegisters, kRegisters}, {{ok}, {ok}},
       [](Kind k, const Bytes& r, int) { return Script{{milliseconds(0), {0x00}}, {kGap, reply(k, r)}}; }},
      {"a byte 0xFF run on into the reply", Kind::rtu, {kRegisters}, {{ok}},
       [](Kind k, const Bytes& r, int) { Bytes b{0xFF}; const Bytes f = reply(k, r); b.insert(b.end(), f.begin(), f.end()); return Script{{milliseconds(0), b}}; }},
      {"a fragment, then another unit's frame, then the reply", Kind::rtu, {kCoils}, {{ok}},
       [](Kind k, const Bytes& r, int) { return Script{{milliseconds(0), {0x01, 0x03, 0x04}}, {kGap, framed(k, r, answer_pdu(asked(k, r)), 7)}, {kGap, reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.other_unit_frames, 1u); }},
      {"a trailing byte after each TCP reply", Kind::tcp, {kRegisters, kCoils, kRegisters}, {{ok}, {ok}, {ok}},
       [](Kind k, const Bytes& r, int) { Bytes b = reply(k, r); b.push_back(0xFF); return Script{{milliseconds(0), b}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.broken_frames, 0u); }},
      {"a TCP reply sent twice", Kind::tcp, {kRegisters, kOtherRegisters}, {{ok}, {ok}},
       [](Kind k, const Bytes& r, int) { Bytes b = reply(k, r); const Bytes again = b; b.insert(b.end(), again.begin(), again.end()); return Script{{milliseconds(0), b}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.stale_bytes, 7u + 2 + 4) << "the first copy discarded before the second request"; }},
      {"a TCP frame of an earlier transaction before the reply", Kind::tcp, {kRegisters, kOtherRegisters}, {{ok}, {ok}},
       [](Kind k, const Bytes& r, int i) { Bytes earlier = reply(k, r); earlier[1] = static_cast<unsigned char>(earlier[1] - 1); return i == 0 ? Script{{milliseconds(0), reply(k, r)}} : Script{{milliseconds(0), earlier}, {kGap, reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.other_transactions, 1u); }},
      {"a silent unit behind a gateway costs the others no reconnect", Kind::tcp, {kRegisters, kRegisters, kRegisters}, {{LinkResult::no_reply}, {ok}, {LinkResult::no_reply}},
       [](Kind k, const Bytes& r, int) { return asked(k, r).unit == 2 ? Script{} : Script{{milliseconds(0), reply(k, r)}}; },
       [](const sitehost::LinkCounters&, const ScriptedPeer& p) { EXPECT_EQ(p.connections(), 1); }, 0, {2, 1, 2}},
      {"a broken frame is tried again", Kind::rtu, {kRegisters}, {{ok}},
       [](Kind k, const Bytes& r, int i) { return Script{{milliseconds(0), i == 0 ? with_bad_crc(reply(k, r)) : reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.retries, 1u); EXPECT_EQ(c.broken_frames, 1u); }, 2},
      {"a busy unit is asked again", Kind::tcp, {kRegisters}, {{ok}},
       [](Kind k, const Bytes& r, int i) { return Script{{milliseconds(0), i == 0 ? framed(k, r, {0x83, 0x06}) : reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.retries, 1u); EXPECT_EQ(c.exceptions.at(6), 1u); }, 2},
      {"a write the unit may have carried out is not sent again", Kind::rtu, {kWrite}, {{LinkResult::no_reply}},
       [](Kind, const Bytes&, int) { return Script{}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer& p) { EXPECT_EQ(p.requests().size(), 1u); EXPECT_EQ(c.retries, 0u); }, 2},
      {"a TCP write whose connection closed after it is not sent again", Kind::tcp, {kWrite}, {{LinkResult::link_down, "closed by the peer"}},
       [](Kind, const Bytes&, int) { return Script{{milliseconds(0), {}, true}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer& p) { EXPECT_EQ(p.requests().size(), 1u); EXPECT_EQ(c.resends, 0u); }, 2},
      {"a TCP read whose connection closed before the reply is sent once more", Kind::tcp, {kRegisters}, {{ok}},
       [](Kind k, const Bytes& r, int i) { return i == 0 ? Script{{milliseconds(0), {}, true}} : Script{{milliseconds(0), reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.resends, 1u); }},
      {"an RTU reply after the time-out is late, not the next reply", Kind::rtu, {kRegisters, kOtherRegisters}, {{LinkResult::no_reply}, {ok}},
       [](Kind k, const Bytes& r, int i) { return Script{{i == 0 ? kLate : milliseconds(0), reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.late_replies, 1u); EXPECT_GT(c.most_late.count(), 0); }},
      {"a TCP reply after the time-out is late, not the next reply", Kind::tcp, {kRegisters, kOtherRegisters}, {{LinkResult::no_reply}, {ok}},
       [](Kind k, const Bytes& r, int i) { return Script{{i == 0 ? kLate : milliseconds(0), reply(k, r)}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.late_replies, 1u); EXPECT_EQ(c.other_transactions, 0u); }},
      {"a serial device that hangs up is gone", Kind::rtu, {kRegisters}, {{LinkResult::link_down, "the device is gone"}},
       [](Kind, const Bytes&, int) { return Script{{milliseconds(0), {}, true}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.connection_losses, 1u); EXPECT_EQ(c.timeouts, 0u); }},
      {"an exception under another function is refused, not counted", Kind::tcp, {kCoils}, {{LinkResult::broken_frame, "function 0x83"}},
       [](Kind k, const Bytes& r, int) { return Script{{milliseconds(0), framed(k, r, {0x83, 0x02})}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_TRUE(c.exceptions.empty()); EXPECT_EQ(c.answered(), 0u); }},
      {"a reply of the unit under the wrong function is a protocol error", Kind::rtu, {kCoils}, {{LinkResult::broken_frame, "function 0x03 to a request of function 0x01"}},
       [](Kind k, const Bytes& r, int) { return Script{{milliseconds(0), framed(k, r, {0x03, 0x02, 0x00, 0x01})}}; },
       [](const sitehost::LinkCounters& c, const ScriptedPeer&) { EXPECT_EQ(c.timeouts, 0u); }},
      {"unit ids 0 and 255 over TCP", Kind::tcp, {kRegisters, kRegisters}, {{ok}, {ok}},
       [](Kind k, const Bytes& r, int) { return Script{{milliseconds(0), reply(k, r)}}; }, nullptr, 0, {0, 255}},
  };
}
// clang-format on

TEST(LineScripts, EachBehaviourOfALineGetsItsOwnAnswer) {
  for (const Row& row : rows()) {
    SCOPED_TRACE(row.name);
    const auto script = row.script;
    const Kind kind = row.kind;
    ScriptedPeer line(kind, [script, kind](const Bytes& request, int index) {
      return script(kind, request, index);
    });
    sitehost::ModbusLink link(line.bus(), {row.timeout, true, row.retries});
    std::vector<int> units;
    for (std::size_t i = 0; i < row.requests.size(); ++i) {
      const int unit = row.unit_ids.empty() ? 1 : row.unit_ids[i];
      units.push_back(unit);
      Bytes pdu;
      const LinkResult result = link.exchange(unit, row.requests[i], pdu);
      EXPECT_EQ(result.status, row.expect[i].status) << "exchange " << i << ": " << result.text;
      EXPECT_NE(result.text.find(row.expect[i].text_part), std::string::npos) << result.text;
      if (result.is_ok() && row.expect[i].status == LinkResult::ok) {
        EXPECT_EQ(pdu, expected_pdu(row.requests[i])) << "exchange " << i << " took another's data";
      }
    }
    for (const int unit : units) {
      expect_identities(link.counters(unit));
    }
    if (row.check) {
      row.check(link.counters(units.back()), line);
    }
  }
}

TEST(LineScripts, AnInterruptEndsAWaitAtOnce) {
  for (const Kind kind : {Kind::rtu, Kind::tcp}) {
    ScriptedPeer line(kind, [](const Bytes&, int) { return Script{}; });
    sitehost::ModbusLink link(line.bus(), {kLong, true, 0});
    ASSERT_TRUE(link.open().is_ok());
    std::thread interrupter([&link, &line] {
      while (line.requests().empty()) {
        std::this_thread::yield();
      }
      link.interrupt();
    });
    Bytes pdu;
    const LinkResult result = link.exchange(1, kRegisters, pdu);
    interrupter.join();
    // Not a time-out: the wait ended before it.
    EXPECT_EQ(result.status, LinkResult::stopped) << result.text;
    EXPECT_EQ(link.counters(1).interrupted, 1u);
    expect_identities(link.counters(1));
  }
}

TEST(LineScripts, TheSerialPortStaysHeldWhenTheLineIsReopened) {
  // A line that babbles on after the reply: the master gives it up and opens
  // it again, and no other process may take the port meanwhile.
  ScriptedPeer line(Kind::rtu, [](const Bytes& request, int index) {
    Script script{
        {milliseconds(0), reply(Kind::rtu, request)}
    };
    for (int burst = 0; index == 0 && burst < 40; ++burst) {
      script.push_back({milliseconds(15), Bytes(16, 0x55)});
    }
    return script;
  });
  sitehost::ModbusLink link(line.bus(), {kTimeout, true, 0});
  Bytes pdu;
  ASSERT_TRUE(link.exchange(1, kRegisters, pdu).is_ok());
  EXPECT_EQ(link.exchange(1, kRegisters, pdu).status, LinkResult::broken_frame) << "never silent";
  sitehost::SerialPortLock other;
  std::string why;
  EXPECT_EQ(other.take(line.path(), why), sitehost::SerialPortLock::Outcome::in_use) << why;
  EXPECT_NE(why.find("in use by process"), std::string::npos) << why;
}

}  // namespace
