// The master against a line that does at random what real lines do: glitch
// bytes in the silences, trailing bytes, late and duplicated replies, busy
// exceptions, broken frames and (TCP) a closed connection, at rates where
// retries suffice. Whatever the mix: no reply taken holds the data of
// another request or cycle, every cycle completes or fails with a reason,
// the link's counts add up, and the completed cycles are at least as many as
// the fault rate allows. The seed is fixed (VELMOCAIR_LINE_SEED for others);
// scripts/robustness runs it long (VELMOCAIR_LINE_CYCLES).
#include <gtest/gtest.h>

#include <cmath>
#include <mutex>
#include <random>
#include <string>

#include "host/services/modbus_link.h"
#include "tests/host_services/link_identities.h"
#include "tests/host_services/scripted_peer.h"
#include "tests/robustness/run_scale.h"

namespace {

using peer::Bytes;
using peer::Script;
using peer::ScriptedPeer;
using std::chrono::milliseconds;
using Kind = ScriptedPeer::Kind;

constexpr int kExchangesPerCycle = 10;
constexpr int kRetries = 2;
constexpr milliseconds kTimeout{60};
constexpr milliseconds kLateBy{20};
constexpr milliseconds kGap{4};

enum class Fault : unsigned char { none, glitch, trailing, duplicate, late, busy, broken, close };

// What the line does to one request, in shares of a thousand; the harmful
// ones cost the try, the others must cost nothing.
struct FaultShare {
  Fault fault;
  int per_mille;
  bool costs_the_try;
};
// clang-format off
constexpr FaultShare kMix[] = {
    {Fault::glitch,    50, false},
    {Fault::trailing,  50, false},
    {Fault::duplicate, 30, false},
    {Fault::late,      20, true},
    {Fault::busy,      30, true},
    {Fault::broken,    30, true},
    {Fault::close,     20, true},  // TCP only; on RTU the line answers
};
// clang-format on

// The register a request reads names its cycle and place: address =
// cycle * kExchangesPerCycle + place, and every register holds its address.
Bytes registers_pdu(unsigned address, unsigned count) {
  Bytes pdu{0x03, static_cast<unsigned char>(2 * count)};
  for (unsigned i = 0; i < count; ++i) {
    pdu.push_back(static_cast<unsigned char>((address + i) >> 8));
    pdu.push_back(static_cast<unsigned char>(address + i));
  }
  return pdu;
}

Bytes framed(Kind kind, const Bytes& request, const Bytes& pdu) {
  if (kind == Kind::rtu) {
    Bytes body{request[0]};
    body.insert(body.end(), pdu.begin(), pdu.end());
    return peer::rtu(body);
  }
  return peer::tcp(peer::transaction_of(request), request[6], pdu);
}

class MixedLine {
 public:
  MixedLine(Kind kind, unsigned seed) : kind_(kind), random_(seed) {}

  Script respond(const Bytes& request) {
    const std::size_t at = kind_ == Kind::rtu ? 0 : 6;
    const unsigned address = static_cast<unsigned>(request[at + 2] << 8 | request[at + 3]);
    const unsigned count = static_cast<unsigned>(request[at + 4] << 8 | request[at + 5]);
    const Bytes reply = framed(kind_, request, registers_pdu(address, count));
    const milliseconds now{0};
    switch (draw()) {
      case Fault::glitch:
        return kind_ == Kind::rtu ? Script{{now, {0x00}}, {kGap, reply}} : Script{{now, reply}};
      case Fault::trailing:
        return Script{
            {now, joined(reply, {0xFF})}
        };
      case Fault::duplicate:
        // On RTU a repeat after a frame silence is a frame like any other:
        // a repeater's comes on the heels of the reply.
        return kind_ == Kind::rtu ? Script{{now, joined(reply, reply)}}
                                  : Script{{now, reply}, {kGap, reply}};
      case Fault::late:
        return Script{
            {kTimeout + kLateBy, reply}
        };
      case Fault::busy:
        return Script{
            {now, framed(kind_, request, {0x83, 0x06})}
        };
      case Fault::broken: {
        Bytes broken = reply;
        Bytes::iterator spoilt = kind_ == Kind::rtu ? broken.end() - 1 : broken.begin() + 2;
        *spoilt ^= 0x5A;  // the CRC, or the protocol id
        return Script{
            {now, broken}
        };
      }
      case Fault::close:
        return kind_ == Kind::tcp ? Script{{now, {}, true}} : Script{{now, reply}};
      case Fault::none:
        break;
    }
    return Script{
        {now, reply}
    };
  }

  // The share of tries a fault costs on this transport.
  double costly_share() const {
    int per_mille = 0;
    for (const FaultShare& share : kMix) {
      per_mille += share.costs_the_try && (share.fault != Fault::close || kind_ == Kind::tcp)
                       ? share.per_mille
                       : 0;
    }
    return per_mille / 1000.0;
  }

 private:
  static Bytes joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
  }

  Fault draw() {
    const std::lock_guard<std::mutex> lock(mutex_);
    int pick = std::uniform_int_distribution<int>(0, 999)(random_);
    for (const FaultShare& share : kMix) {
      if (pick < share.per_mille) {
        return share.fault;
      }
      pick -= share.per_mille;
    }
    return Fault::none;
  }

  Kind kind_;
  std::mt19937 random_;
  std::mutex mutex_;
};

// Cycles completed at least, of `cycles`, when each try fails with
// probability `p` and an exchange has 1 + kRetries tries: the expectation
// less four standard deviations.
long least_completed(long cycles, double p) {
  const double exchange_fails = std::pow(p, kRetries + 1);
  const double cycle_completes = std::pow(1.0 - exchange_fails, kExchangesPerCycle);
  const double mean = cycles * cycle_completes;
  return static_cast<long>(std::floor(mean - 4 * std::sqrt(mean * (1.0 - cycle_completes))));
}

class LineMix : public ::testing::TestWithParam<Kind> {};

TEST_P(LineMix, RetriesCarryEveryCycleThatTheFaultRateAllows) {
  const long cycles = velmocair::robustness::run_scale("VELMOCAIR_LINE_CYCLES", 60);
  const auto seed =
      static_cast<unsigned>(velmocair::robustness::run_scale("VELMOCAIR_LINE_SEED", 19));
  const Kind kind = GetParam();
  MixedLine mix(kind, seed);
  ScriptedPeer line(kind, [&mix](const Bytes& request, int) { return mix.respond(request); });
  sitehost::ModbusLink link(line.bus(19200), {kTimeout, true, kRetries});
  long completed = 0;
  for (long cycle = 0; cycle < cycles; ++cycle) {
    std::string failure;
    for (int place = 0; place < kExchangesPerCycle && failure.empty(); ++place) {
      const int register_address = static_cast<int>((cycle * kExchangesPerCycle + place) % 60000);
      Bytes pdu;
      const sitehost::LinkResult result =
          link.exchange(1, {ModbusRequest::read_registers, register_address, 2, 0}, pdu);
      if (!result.is_ok()) {
        failure = result.text.empty() ? "(no reason)" : result.text;
      } else if (pdu.size() == 2 && (pdu[0] & 0x80) != 0) {
        failure = "exception " + std::to_string(pdu[1]);
      } else {
        ASSERT_EQ(pdu, registers_pdu(static_cast<unsigned>(register_address), 2))
            << "cycle " << cycle << " place " << place << " took another request's data";
      }
    }
    EXPECT_NE(failure, "(no reason)");
    completed += failure.empty() ? 1 : 0;
    link.count_cycle(1, failure.empty());
  }
  const sitehost::LinkCounters& counted = link.counters(1);
  expect_identities(counted);
  EXPECT_EQ(counted.cycles_completed + counted.cycles_failed, static_cast<std::uint64_t>(cycles));
  const long least = least_completed(cycles, mix.costly_share());
  EXPECT_GE(completed, least);
  velmocair::robustness::report_figure(
      std::string(kind == Kind::rtu ? "rtu" : "tcp") + " line mix: " + std::to_string(completed) +
      " of " + std::to_string(cycles) + " cycles completed (at least " + std::to_string(least) +
      " allowed by the fault rate); " + std::to_string(counted.retries) + " retries, " +
      std::to_string(counted.late_replies) + " late, " + std::to_string(counted.resends) +
      " resends, " + std::to_string(counted.stale_bytes) + " stale bytes");
}

INSTANTIATE_TEST_SUITE_P(Transports, LineMix, ::testing::Values(Kind::rtu, Kind::tcp),
                         [](const ::testing::TestParamInfo<Kind>& info) {
                           return info.param == Kind::rtu ? "Rtu" : "Tcp";
                         });

}  // namespace
