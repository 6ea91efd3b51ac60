// Faults on the line, end to end: the simulator strikes requests with each
// fault at 1 % and 10 % over a window of cycles and in a 100 % burst, while
// the host's bus polls the plug-in's device as fast as the unit answers and
// sends set-point commands. No record published or stored mixes two cycles,
// the first cycle after the fault clears (or the one after it) gives a good
// record, and no command is reported confirmed unless its echo came back
// whole and in time.
#include <gtest/gtest.h>

#include <iterator>
#include <sstream>

#include "cli/options/command_actions.h"
#include "tests/robustness/generation_marks.h"
#include "tests/robustness/history_file.h"
#include "tests/robustness/run_scale.h"
#include "tests/robustness/unit_under_test.h"
#include "tests/support/child_process.h"

namespace velmocair::robustness {
namespace {

using sim::FaultKind;
using std::chrono::milliseconds;

constexpr milliseconds kResponseTimeout{200};
// ms below and above the time-out: wide enough that a host thread woken late
// under load still tells the two apart
constexpr int kDelayMargin = 100;
constexpr int kUnder = static_cast<int>(kResponseTimeout.count()) - kDelayMargin;
constexpr int kOver = static_cast<int>(kResponseTimeout.count()) + kDelayMargin;

struct FaultCase {
  const char* name;
  FaultKind kind;
  int delay_ms;
  int exception_code;
  std::size_t command_every;  // polls between two commands
};

// A wrong echo strikes only writes, so its runs send a command every poll.
// clang-format off
// name             kind                         delay   exception code  command every
constexpr FaultCase kFaults[] = {
    {"no_reply",      FaultKind::no_reply,         0,      0,              3},
    {"delay_under",   FaultKind::delay,            kUnder, 0,              3},
    {"delay_over",    FaultKind::delay,            kOver,  0,              3},
    {"exception_01",  FaultKind::exception,        0,      1,              3},
    {"exception_02",  FaultKind::exception,        0,      2,              3},
    {"exception_03",  FaultKind::exception,        0,      3,              3},
    {"exception_04",  FaultKind::exception,        0,      4,              3},
    {"exception_06",  FaultKind::exception,        0,      6,              3},
    {"wrong_echo",    FaultKind::wrong_echo,       0,      0,              1},
    {"broken_frame",  FaultKind::broken_frame,     0,      0,              3},
    {"drop",          FaultKind::drop_connection,  0,      0,              3},
};
// clang-format on
static_assert(std::size(kFaults) == 11);

struct RateCase {
  const char* name;
  double probability;
  bool burst;  // every request of a few cycles in the middle of the run
};

// clang-format off
// name     probability  burst
constexpr RateCase kRates[] = {
    {"1%",    0.01,        false},
    {"10%",   0.10,        false},
    {"burst", 1.0,         true},
};
// clang-format on

constexpr int kBurstFirstCycle = 3;
constexpr int kBurstCycles = 3;
// Cycles polled after the fault clears before the run gives up on a good
// record.
constexpr int kCleanCycles = 4;
constexpr int kFirstHumidity = 40;
constexpr int kHumiditySpan = 20;
// Rounds leave the bus idle a little, so that a command sent on a poll's
// report goes out in the cycle just polled, inside a burst that strikes it.
constexpr milliseconds kRoundInterval{10};
constexpr milliseconds kPollWait{10000};
constexpr milliseconds kCommandWait{10000};

// Whether the unit answered the write with its true echo within the time-out.
// A write whose TCP connection the unit dropped goes out once more.
bool echo_came_back(const FaultCase& fault, Transport transport,
                    const UnitUnderTest::CommandRun& run) {
  for (std::size_t kind = 0; kind < run.struck.size(); ++kind) {
    const bool harmless = static_cast<FaultKind>(kind) == FaultKind::delay &&
                          fault.delay_ms < kResponseTimeout.count();
    const std::uint64_t sent_again =
        static_cast<FaultKind>(kind) == FaultKind::drop_connection && transport == Transport::tcp;
    if (run.struck[kind] > sent_again && !harmless) {
      return false;
    }
  }
  return true;
}

struct Figures {
  int last_fault_cycle = 0;
  int cycles = 0;
  std::uint64_t polls = 0;
  std::uint64_t completed = 0;
  std::uint64_t faults = 0;
  std::uint64_t published = 0;
  std::uint64_t mixed_published = 0;
  std::size_t stored = 0;
  std::size_t mixed_stored = 0;
  int recovery = -1;  // cycles after the fault cleared without a good record; -1: none came
  std::size_t commands = 0;
  std::size_t confirmed = 0;
  std::size_t confirmed_without_echo = 0;
  std::size_t echoed_not_confirmed = 0;

  std::string text() const {
    std::ostringstream line;
    line << "cycles " << cycles << ", polls " << polls << " (" << completed
         << " completed), faults " << faults << ", published " << published << " ("
         << mixed_published << " mixed), stored " << stored << " (" << mixed_stored
         << " mixed), cycles to the first good record after "
         << "the fault cleared " << recovery << ", commands " << commands << " (" << confirmed
         << " confirmed, " << confirmed_without_echo << " confirmed without their echo, "
         << echoed_not_confirmed << " echoed but not confirmed)";
    return line.str();
  }
};

// Cycles after `last_fault_cycle` that passed before the first whole record
// of one; -1 while none has come.
int recovery_of(const RecordLog& log, int last_fault_cycle) {
  const std::optional<std::uint16_t> first_good =
      log.first_after(static_cast<std::uint16_t>(last_fault_cycle));
  return first_good ? *first_good - (last_fault_cycle + 1) : -1;
}

class FaultInjection : public ::testing::TestWithParam<std::tuple<Transport, std::size_t>> {
 protected:
  Figures run(const FaultCase& fault, const RateCase& rate) {
    const int window = static_cast<int>(run_scale("VELMOCAIR_FAULT_CYCLES", 12));
    sim::FaultRule rule;
    rule.kind = fault.kind;
    rule.probability = rate.probability;
    rule.delay_ms = fault.delay_ms;
    rule.exception_code = fault.exception_code;
    rule.first_cycle = rate.burst ? kBurstFirstCycle : 1;
    rule.last_cycle = rate.burst ? kBurstFirstCycle + kBurstCycles - 1 : window;

    UnitSetup setup;
    setup.transport = std::get<0>(GetParam());
    setup.faults = {{rule}, static_cast<std::uint64_t>(std::get<1>(GetParam())) + 1};
    setup.timing.response_timeout = kResponseTimeout;
    setup.interval = kRoundInterval;
    setup.history_path = folder_.path(std::string(fault.name) + "-" + rate.name + ".sqlite");

    Figures figures;
    figures.last_fault_cycle = rule.last_cycle;
    const cli::CommandAction& humidity = *cli::find_command_action("humidity");
    {
      UnitUnderTest unit(setup);
      unit.start();
      for (std::uint64_t polls = 1;; ++polls) {
        if (!unit.wait_reports(polls, kPollWait)) {
          ADD_FAILURE() << "no poll within " << kPollWait.count() << " ms";
          break;
        }
        const int recovery = recovery_of(unit.published(), rule.last_cycle);
        if (unit.cycles() > rule.last_cycle + kCleanCycles || (recovery >= 0 && recovery <= 1)) {
          break;
        }
        // Commands go out while the fault lasts; each abandons the cycle it
        // lands in, so none is sent while recovery is measured.
        if (polls % fault.command_every != 0 || unit.cycles() > rule.last_cycle) {
          continue;
        }
        const int value = kFirstHumidity + static_cast<int>(figures.commands) % kHumiditySpan;
        const std::optional<UnitUnderTest::CommandRun> command =
            unit.command(humidity, value, kCommandWait);
        if (!command) {
          ADD_FAILURE() << "the command did not run within " << kCommandWait.count() << " ms";
          break;
        }
        ++figures.commands;
        const bool confirmed = cli::confirmed(command->outcome);
        const bool echoed =
            command->outcome.write_sent && echo_came_back(fault, setup.transport, *command);
        figures.confirmed += confirmed ? 1 : 0;
        figures.confirmed_without_echo += confirmed && !echoed ? 1 : 0;
        figures.echoed_not_confirmed += echoed && !confirmed ? 1 : 0;
      }
      unit.stop();
      figures.cycles = unit.cycles();
      figures.faults = unit.server().faults(fault.kind);
      figures.polls = unit.polls().polls;
      figures.completed = unit.polls().completed;
      figures.published = unit.published().records();
      figures.mixed_published = unit.published().mixed();
      figures.recovery = recovery_of(unit.published(), rule.last_cycle);
    }
    for (const StoredRow& row : stored_rows(setup.history_path)) {
      ++figures.stored;
      figures.mixed_stored += generation_of(row.record.data(), row.record.size()) ? 0 : 1;
    }
    return figures;
  }

  testing::ScratchFolder folder_;
};

TEST_P(FaultInjection, NoRecordMixesCyclesTheNextCycleRecoversNoCommandIsConfirmedWithoutItsEcho) {
  const FaultCase& fault = kFaults[std::get<1>(GetParam())];
  const char* transport = std::get<0>(GetParam()) == Transport::tcp ? "tcp" : "rtu";
  for (const RateCase& rate : kRates) {
    const Figures figures = run(fault, rate);
    const std::string where = std::string(transport) + " " + fault.name + " " + rate.name;
    report_figure("fault " + where + ": " + figures.text());
    EXPECT_EQ(figures.mixed_published, 0u) << where;
    EXPECT_EQ(figures.mixed_stored, 0u) << where;
    EXPECT_EQ(figures.stored, figures.published) << where << ": every published record is stored";
    EXPECT_GE(figures.recovery, 0) << where << ": no good record after the fault cleared";
    EXPECT_LE(figures.recovery, 1) << where;
    EXPECT_EQ(figures.confirmed_without_echo, 0u) << where;
    if (rate.burst) {
      EXPECT_GT(figures.faults, 0u) << where << ": the burst struck nothing";
    }
  }
}

std::string case_name(const ::testing::TestParamInfo<FaultInjection::ParamType>& info) {
  return std::string(std::get<0>(info.param) == Transport::tcp ? "Tcp_" : "Rtu_") +
         kFaults[std::get<1>(info.param)].name;
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultInjection,
                         ::testing::Combine(::testing::Values(Transport::tcp, Transport::rtu),
                                            ::testing::Range<std::size_t>(0, std::size(kFaults))),
                         case_name);

}  // namespace
}  // namespace velmocair::robustness
