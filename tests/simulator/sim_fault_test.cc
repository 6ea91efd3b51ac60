// Injected faults as a plain libmodbus master meets them, over TCP and RTU.
#include <gtest/gtest.h>

#include <cerrno>
#include <iterator>

#include "tests/simulator/sim_master.h"

namespace velmocair::sim {
namespace {

using testing::Master;
using testing::Outcome;
using Bytes = std::vector<std::uint8_t>;

constexpr std::chrono::milliseconds kShortTimeout{200};
constexpr int kLongDelayMs = 2000;  // far beyond the master's time-out

FaultRule rule(FaultKind kind, double probability = 1.0) {
  FaultRule made;
  made.kind = kind;
  made.probability = probability;
  made.delay_ms = kLongDelayMs;
  return made;
}

FaultRule exception_rule(int code) {
  FaultRule made = rule(FaultKind::exception);
  made.exception_code = code;
  return made;
}

class SimFault : public ::testing::TestWithParam<Transport> {
 protected:
  ServerOptions with(const std::vector<FaultRule>& rules, std::uint64_t seed = 1) const {
    ServerOptions options = testing::options_on(GetParam());
    options.faults.rules = rules;
    options.faults.seed = seed;
    return options;
  }
  // The error pattern of `reads` coil reads against a server with `options`.
  std::vector<int> errors_of(const ServerOptions& options, int reads) const {
    Server server(options);
    server.start();
    Master master(GetParam(), server, options.unit_ids[0], kShortTimeout);
    std::vector<int> errors;
    for (int i = 0; i < reads; ++i) {
      errors.push_back(master.read_coils(8001, 32).error);
    }
    return errors;
  }
};

INSTANTIATE_TEST_SUITE_P(Transports, SimFault, ::testing::Values(Transport::tcp, Transport::rtu),
                         testing::TransportName());

TEST_P(SimFault, EveryKindStrikesAtRateOneAndNeverAtRateZero) {
  struct Row {
    const char* name;
    FaultRule rule;
    int tcp_error;  // errno of a coil read
    int rtu_error;
  };
  // clang-format off
  // name            rule                                  over TCP     over RTU
  const Row rows[] = {
      {"no reply",     rule(FaultKind::no_reply),            ETIMEDOUT,   ETIMEDOUT},
      {"delay",        rule(FaultKind::delay),               ETIMEDOUT,   ETIMEDOUT},
      {"exception 01", exception_rule(1),                    EMBXILFUN,   EMBXILFUN},
      {"exception 02", exception_rule(2),                    EMBXILADD,   EMBXILADD},
      {"exception 03", exception_rule(3),                    EMBXILVAL,   EMBXILVAL},
      {"exception 04", exception_rule(4),                    EMBXSFAIL,   EMBXSFAIL},
      {"exception 06", exception_rule(6),                    EMBXSBUSY,   EMBXSBUSY},
      {"broken frame", rule(FaultKind::broken_frame),        EMBBADDATA,  EMBBADCRC},
      {"drop",         rule(FaultKind::drop_connection),     ECONNRESET,  ETIMEDOUT},
  };
  // clang-format on
  for (const Row& row : rows) {
    const int expected = GetParam() == Transport::tcp ? row.tcp_error : row.rtu_error;
    Server struck(with({row.rule}));
    struck.start();
    {
      Master master(GetParam(), struck, 1, kShortTimeout);
      const Outcome result = master.read_coils(8001, 32);
      EXPECT_EQ(result.rc, -1) << row.name;
      EXPECT_EQ(result.error, expected) << row.name << ": got " << modbus_strerror(result.error)
                                        << ", wanted " << modbus_strerror(expected);
    }
    EXPECT_EQ(struck.faults(row.rule.kind), 1u) << row.name;

    FaultRule never = row.rule;
    never.probability = 0.0;
    Server spared(with({never}));
    spared.start();
    Master master(GetParam(), spared, 1, kShortTimeout);
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(master.read_coils(8001, 32).rc, 32) << row.name << " at rate 0, read " << i;
    }
    EXPECT_EQ(spared.faults(row.rule.kind), 0u) << row.name;
  }
}

TEST_P(SimFault, WrongEchoStoresTheWriteButEchoesValuePlusOne) {
  Server server(with({rule(FaultKind::wrong_echo)}));
  server.start();
  Master master(GetParam(), server, 1);
  EXPECT_EQ(master.read_coils(8001, 32).rc, 32) << "reads are not echoes";
  Bytes reply;
  ASSERT_GT(master.raw({kWriteRegister, 0x0D, 0xB0, 0x01, 0xC7}, &reply).rc, 0);  // 3504 <- 455
  EXPECT_EQ(testing::pdu_of(GetParam(), reply), (Bytes{kWriteRegister, 0x0D, 0xB0, 0x01, 0xC8}));
  EXPECT_EQ(server.registers(1, 3504, 1), std::vector<std::uint16_t>{455});
  EXPECT_EQ(server.faults(FaultKind::wrong_echo), 1u);
}

TEST_P(SimFault, DrawsRepeatWithTheSeedAndFollowTheRate) {
  constexpr int kReads = 60;
  const FaultRule half = [] {
    FaultRule made = exception_rule(4);
    made.probability = 0.5;
    return made;
  }();
  const std::vector<int> first = errors_of(with({half}, 7), kReads);
  const std::vector<int> again = errors_of(with({half}, 7), kReads);
  const std::vector<int> other = errors_of(with({half}, 8), kReads);
  EXPECT_EQ(first, again) << "same seed, same faults";
  EXPECT_NE(first, other) << "another seed, other faults";
  const auto struck = std::count(first.begin(), first.end(), EMBXSFAIL);
  EXPECT_GT(struck, 0);
  EXPECT_LT(struck, kReads);
  EXPECT_EQ(std::count(first.begin(), first.end(), 0), kReads - struck);
}

TEST_P(SimFault, BurstsUnitAndRequestFiltersNarrowTheFault) {
  FaultRule burst = exception_rule(6);
  burst.first_cycle = 3;
  burst.last_cycle = 4;
  FaultRule unit_two = exception_rule(4);
  unit_two.unit_id = 2;
  FaultRule registers_only = exception_rule(3);
  registers_only.unit_id = 3;
  registers_only.request = RequestKind::read_registers;
  ServerOptions options = with({burst, unit_two, registers_only});
  options.unit_ids = {1, 2, 3};
  Server server(options);
  server.start();

  Master one(GetParam(), server, 1);
  for (int cycle = 1; cycle <= 5; ++cycle) {
    const Master::Cycle read = one.poll_cycle();
    const bool in_burst = cycle >= 3 && cycle <= 4;
    EXPECT_EQ(read.completed, in_burst ? 0 : 20) << "cycle " << cycle;
    EXPECT_EQ(read.failure.error, in_burst ? EMBXSBUSY : 0) << "cycle " << cycle;
  }

  Master two(GetParam(), server, 2);
  EXPECT_EQ(two.read_coils(8001, 32).error, EMBXSFAIL) << "unit 2 is struck";
  Master three(GetParam(), server, 3);
  EXPECT_EQ(three.read_coils(8001, 32).rc, 32) << "unit 3: coils are spared";
  EXPECT_EQ(three.read_registers(8001, 38).error, EMBXILVAL) << "unit 3: registers are struck";
}

}  // namespace
}  // namespace velmocair::sim
