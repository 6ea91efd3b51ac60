#include "cli/scan/bus_scanner.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <thread>

#include "device/poll_cycle_table.h"
#include "host/modbus_exception.h"
#include "host/modbus_reply.h"
#include "host/services/adu.h"
#include "host/services/line_timing.h"

namespace velmocair::cli {
namespace {

using sitehost::LinkResult;
using std::chrono::microseconds;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr unsigned char kExceptionFlag = modbus_exception::kFlag;
constexpr std::size_t kExceptionCodeAt = 1;
// A gateway's answer for a unit id where nothing answers behind it.
constexpr unsigned kGatewayPathUnavailable = modbus_exception::kGatewayPathUnavailable;
constexpr unsigned kGatewayTargetSilent = modbus_exception::kGatewayTargetFailedToRespond;
// The unit is busy with a long command: asked again, the read may be answered.
constexpr unsigned kServerDeviceBusy = 0x06;
constexpr std::size_t kByteCountAt = 1;
constexpr int kBitsPerByte = 8;
// A unit that needs more than the poll's time-out gets its slowest answer
// and half as much again (at least the turnaround allowance), in whole
// tenths of a second: a slow unit's answers spread widely.
constexpr milliseconds kTimeoutStep{100};
constexpr int kTimeoutMarginShare = 2;
// Site entries of a unit address found more than once get data ids this far
// apart, beyond every unit address.
constexpr std::uint32_t kDataIdStride = 1000;

ModbusRequest request_of(const PollStep& step) {
  ModbusRequest request;
  request.kind = step.request.kind == ReadKind::coils ? ModbusRequest::read_bits
                                                      : ModbusRequest::read_registers;
  request.address = step.request.first;
  request.count = step.request.count;
  return request;
}

bool is_exception(const std::vector<unsigned char>& pdu) {
  return pdu.size() > kExceptionCodeAt && (pdu[0] & kExceptionFlag) != 0;
}

// The time-out polling would need for answers as slow as `slowest`.
milliseconds timeout_for_answers(microseconds slowest) {
  const microseconds margin =
      std::max<microseconds>(slowest / kTimeoutMarginShare, sitehost::kTurnaroundAllowance);
  const auto steps = (slowest + margin + kTimeoutStep - microseconds(1)) / kTimeoutStep;
  return steps * kTimeoutStep;
}

// Whether a coil reply leaves the bits beyond the `count` coils asked for clear.
bool padding_clear(const std::vector<unsigned char>& pdu, int count) {
  const int used = count % kBitsPerByte;
  const std::size_t last = kByteCountAt + pdu[kByteCountAt];
  return used == 0 || (pdu[last] >> used) == 0;
}

void keep_values(const ModbusRequest& request, const ReplyDecode& decoded,
                 const ReplyTables& tables, const std::vector<unsigned char>& pdu,
                 CycleValues& values) {
  for (unsigned index = 0; index < decoded.count; ++index) {
    const int address = request.address + static_cast<int>(index);
    if (request.kind == ModbusRequest::read_bits) {
      values.coils[address] = tables.bits[index];
    } else {
      values.registers[address] = tables.registers[index];
    }
  }
  if (request.kind == ModbusRequest::read_bits && !padding_clear(pdu, request.count)) {
    values.coil_padding_clear = false;
  }
}

}  // namespace

BusScanner::BusScanner(ScanPlan plan, ScanListener& listener)
    : plan_(std::move(plan)),
      listener_(listener),
      link_(plan_.settings.front(), sitehost::LinkTiming{std::nullopt, false, 0}) {}

LinkResult BusScanner::open() { return link_.open(); }

milliseconds BusScanner::probe_timeout(const sitehost::BusAddress& setting) const {
  if (plan_.timeout) {
    return *plan_.timeout;
  }
  if (setting.kind == sitehost::BusAddress::tcp) {
    return sitehost::kMinResponseTimeout;
  }
  const ModbusRequest request = request_of(kFirstPollStep);
  const std::size_t request_bytes =
      sitehost::raw_request(1, request).bytes.size() + sitehost::kRtuCrcLength;
  return sitehost::exchange_allowance(setting.line,
                                      request_bytes + sitehost::rtu_reply_length(request));
}

milliseconds BusScanner::poll_timeout(const sitehost::BusAddress& setting) {
  if (setting.kind == sitehost::BusAddress::tcp) {
    return sitehost::kMinResponseTimeout;
  }
  std::size_t longest = 0;
  for (const PollStep& step : kPollCycle) {
    const ModbusRequest request = request_of(step);
    longest = std::max(longest, sitehost::raw_request(1, request).bytes.size() +
                                    sitehost::kRtuCrcLength + sitehost::rtu_reply_length(request));
  }
  return sitehost::default_response_timeout(setting.line, longest);
}

milliseconds BusScanner::time_left(std::size_t setting, std::size_t next_unit) const {
  const auto setting_time = [this](std::size_t index, std::size_t units) {
    const sitehost::BusAddress& bus = plan_.settings[index];
    return static_cast<int>(units) * probe_timeout(bus) +
           (bus.kind == sitehost::BusAddress::rtu ? kLateWindow : milliseconds(0));
  };
  milliseconds left = setting_time(setting, plan_.unit_ids.size() - next_unit);
  for (std::size_t later = setting + 1; later < plan_.settings.size(); ++later) {
    left += setting_time(later, plan_.unit_ids.size());
  }
  return left;
}

LinkResult BusScanner::exchange_timed(int unit_id, const ModbusRequest& request,
                                      const sitehost::LinkTiming& timing, microseconds& took) {
  const sitehost::BusAddress& bus = link_.address();
  if (bus.kind == sitehost::BusAddress::rtu) {
    // The master keeps a frame silence before each request: waited here, so
    // that the time taken is the unit's.
    std::this_thread::sleep_for(sitehost::frame_silence(bus.line));
  }
  link_.set_timing(timing);
  const Clock::time_point sent = Clock::now();
  asked_at_[unit_id] = sent;
  const LinkResult result = link_.exchange(unit_id, request, pdu_);
  took = std::chrono::duration_cast<microseconds>(Clock::now() - sent);
  const auto other = asked_at_.find(result.other_unit);
  if (result.other_unit != 0 && other != asked_at_.end()) {
    note_late(result.other_unit, std::chrono::ceil<milliseconds>(Clock::now() - other->second));
  }
  return result;
}

void BusScanner::note_late(int unit_id, milliseconds within) {
  auto [entry, added] = late_.emplace(unit_id, within);
  if (!added) {
    entry->second = std::min(entry->second, within);
  }
}

LinkResult BusScanner::run(const std::function<bool()>& stopped) {
  Sweep sweep{stopped, plan_.settings.size() * plan_.unit_ids.size(), 0, LinkResult::success(),
              true};
  for (std::size_t index = 0; index < plan_.settings.size() && sweep.complete; ++index) {
    if (index > 0 && plan_.settings[index].kind == sitehost::BusAddress::rtu) {
      link_.change_line(plan_.settings[index].line);
    }
    scan_setting(index, sweep);
  }
  for (auto& [key, held] : held_) {
    const bool serial = held.first.bus.kind == sitehost::BusAddress::rtu;
    const std::size_t places = serial ? plan_.settings.size() : plan_.unit_ids.size();
    if (sweep.complete && held.alike.size() + 1 == places) {
      (serial ? held.first.every_setting : held.first.every_unit_id) = true;
      held.alike.clear();
    }
    release(held);
  }
  held_.clear();
  return sweep.ended;
}

void BusScanner::scan_setting(std::size_t index, Sweep& sweep) {
  const sitehost::BusAddress& setting = plan_.settings[index];
  const bool serial = setting.kind == sitehost::BusAddress::rtu;
  late_.clear();
  asked_at_.clear();
  std::vector<int> garbled;
  std::vector<int> silent;
  std::set<int> found_here;
  const auto probe_and_walk = [&](int unit_id) {
    microseconds took{0};
    const Heard heard = probe(setting, unit_id, took);
    if (heard == Heard::unit) {
      found_here.insert(unit_id);
      place_done(index, unit_id, walk_cycle(setting, unit_id, took));
    }
    return heard;
  };
  Heard last_heard = Heard::unit;
  for (std::size_t next = 0; next < plan_.unit_ids.size(); ++next) {
    const int unit_id = plan_.unit_ids[next];
    if (sweep.stopped()) {
      sweep.complete = false;
      return;
    }
    if (LinkResult opened = link_.open(); !opened.is_ok()) {
      sweep.ended = opened;
      sweep.complete = false;
      return;
    }
    last_heard = probe_and_walk(unit_id);
    if (last_heard != Heard::unit) {
      (last_heard == Heard::garble ? garbled : silent).push_back(unit_id);
      if (!serial) {
        // No late frame is heard over TCP: a time-out drops the connection.
        place_done(index, unit_id, std::nullopt);
      }
    }
    listener_.probed(++sweep.done, sweep.total, time_left(index, next + 1));
    if (plan_.stop_at_first && !reported_.empty()) {
      sweep.complete = false;
      return;
    }
  }
  if (serial && last_heard == Heard::silence) {
    listen_after(setting, plan_.unit_ids.back());
  }
  // A walk that met garbled bytes may have drowned a late answer of an
  // address probed shortly before it: those are probed once more.
  std::vector<int> again;
  std::copy_if(silent.begin(), silent.end(), std::back_inserter(again),
               [this](int unit_id) { return drowned_.count(unit_id) != 0; });
  drowned_.clear();
  for (const int unit_id : again) {
    if (sweep.stopped()) {
      break;
    }
    last_heard = probe_and_walk(unit_id);
  }
  if (!again.empty() && last_heard == Heard::silence) {
    listen_after(setting, again.back());
  }
  for (const auto& [unit_id, within] : late_) {
    if (found_here.count(unit_id) != 0 || sweep.stopped()) {
      continue;
    }
    if (const std::optional<microseconds> delay = measure_late(setting, unit_id)) {
      found_here.insert(unit_id);
      place_done(index, unit_id, walk_cycle(setting, unit_id, *delay));
    } else {
      listener_.late(setting, unit_id, within);
    }
  }
  silent.insert(silent.end(), garbled.begin(), garbled.end());
  for (const int unit_id : silent) {
    if (serial && found_here.count(unit_id) == 0) {
      place_done(index, unit_id, std::nullopt);
    }
  }
  if (!garbled.empty()) {
    listener_.garbled(setting, garbled);
  }
}

BusScanner::Heard BusScanner::probe(const sitehost::BusAddress& setting, int unit_id,
                                    microseconds& took, std::optional<milliseconds> timeout) {
  const LinkResult result =
      exchange_timed(unit_id, request_of(kFirstPollStep),
                     {timeout.value_or(probe_timeout(setting)), timeout.has_value(), 0}, took);
  switch (result.status) {
    case LinkResult::ok:
      break;
    case LinkResult::broken_frame:
      return Heard::garble;
    default:
      return Heard::silence;
  }
  if (is_exception(pdu_)) {
    const unsigned code = pdu_[kExceptionCodeAt];
    return code == kGatewayPathUnavailable || code == kGatewayTargetSilent ? Heard::silence
                                                                           : Heard::unit;
  }
  return Heard::unit;
}

void BusScanner::listen_after(const sitehost::BusAddress& setting, int unit_id) {
  microseconds took{0};
  if (probe(setting, unit_id, took, kLateWindow) == Heard::unit) {
    note_late(unit_id, std::chrono::ceil<milliseconds>(took));
  }
}

std::optional<microseconds> BusScanner::measure_late(const sitehost::BusAddress& setting,
                                                     int unit_id) {
  // Whatever the unit still owes an earlier request comes within the late
  // window of it, and the master drops it before the next request.
  std::this_thread::sleep_until(asked_at_[unit_id] + kLateWindow);
  microseconds took{0};
  if (probe(setting, unit_id, took, kLateWindow) != Heard::unit) {
    return std::nullopt;
  }
  return took;
}

FoundUnit BusScanner::walk_cycle(const sitehost::BusAddress& setting, int unit_id,
                                 microseconds probe_took) {
  FoundUnit unit;
  unit.bus = setting;
  unit.unit_id = unit_id;
  unit.reads = static_cast<int>(std::size(kPollCycle));
  const milliseconds polls_with = poll_timeout(setting);
  // A unit slower than polling waits is walked with the late window, so that
  // its slowest answer, and the time-out it needs, is measured.
  const bool slow = timeout_for_answers(probe_took) > polls_with;
  const sitehost::LinkTiming timing{
      slow ? kLateWindow : std::max(polls_with, plan_.timeout.value_or(polls_with)), true, 0};
  std::array<unsigned char, kMaxCoilsPerRead> bits{};
  std::array<std::uint16_t, kMaxRegistersPerRead> registers{};
  const ReplyTables tables{bits.data(), bits.size(), registers.data(), registers.size()};
  CycleValues values;
  std::vector<microseconds> times{probe_took};
  const Clock::time_point started = Clock::now();
  const sitehost::LinkCounters before = link_.counters(unit_id);
  int most_reasked = 0;  // of one read
  for (const PollStep& step : kPollCycle) {
    const ModbusRequest request = request_of(step);
    bool settled = false;
    for (int asking = 0; asking <= plan_.retries && !settled; ++asking) {
      unit.reasked += asking > 0 ? 1 : 0;
      most_reasked = std::max(most_reasked, asking);
      microseconds took{0};
      if (!exchange_timed(unit_id, request, timing, took).is_ok()) {
        ++unit.unanswered;
        continue;
      }
      const ReplyDecode decoded = decode_reply(request, pdu_.data(), pdu_.size(), tables);
      if (decoded.status == ReplyDecode::malformed) {
        link_.refuse_reply(unit_id);
        ++unit.unanswered;
        continue;
      }
      times.push_back(took);
      const bool busy =
          decoded.status == ReplyDecode::exception && decoded.exception_code == kServerDeviceBusy;
      unit.busy += busy ? 1 : 0;
      settled = !busy || asking == plan_.retries;
      if (!settled) {
        continue;
      }
      unit.answers.push_back(pdu_);
      if (decoded.status == ReplyDecode::ok) {
        ++unit.answered;
        keep_values(request, decoded, tables, pdu_, values);
      } else {
        ++unit.refused[decoded.exception_code];
      }
    }
    if (!settled) {
      unit.answers.emplace_back();
    }
  }
  const sitehost::LinkCounters& after = link_.counters(unit_id);
  bool collided = false;  // with a late answer to a probe of the scan's, which polling never sends
  if (after.broken_frames > before.broken_frames || after.stale_bytes > before.stale_bytes) {
    for (const auto& [other, asked] : asked_at_) {
      if (other != unit_id && asked < started && asked + kLateWindow > started) {
        drowned_.insert(other);
        collided = true;
      }
    }
  }
  std::sort(times.begin(), times.end());
  unit.response = times[times.size() / 2];
  unit.slowest = times.back();
  if (timeout_for_answers(unit.slowest) > polls_with) {
    unit.timeout = timeout_for_answers(unit.slowest);
  }
  // One more than the most a read needed, as a cycle's other reads may need more.
  const int needs_retries = std::min(plan_.retries, most_reasked + 1);
  if (most_reasked > 0 && !collided && needs_retries > plan_.poll_retries) {
    unit.retries = needs_retries;
  }
  if (unit.answered == unit.reads) {
    unit.values = check_values(values);
  }
  return unit;
}

void BusScanner::place_done(std::size_t setting, int unit_id,
                            const std::optional<FoundUnit>& unit) {
  const bool serial = plan_.settings[setting].kind == sitehost::BusAddress::rtu;
  const int key = serial ? unit_id : 0;
  const auto held = held_.find(key);
  if (held == held_.end()) {
    const bool first_place = serial
                                 ? setting == 0 && plan_.settings.size() > 1
                                 : unit_id == plan_.unit_ids.front() && plan_.unit_ids.size() > 1;
    if (unit && first_place && !plan_.stop_at_first) {
      held_.emplace(key, Held{*unit, {}});
    } else if (unit) {
      report(*unit);
    }
    return;
  }
  if (unit && unit->answers == held->second.first.answers) {
    held->second.alike.push_back(*unit);
    return;
  }
  release(held->second);
  held_.erase(held);
  if (unit) {
    report(*unit);
  }
}

void BusScanner::release(Held& held) {
  report(held.first);
  for (const FoundUnit& unit : held.alike) {
    report(unit);
  }
}

void BusScanner::report(FoundUnit unit) {
  const auto earlier = static_cast<std::uint32_t>(
      std::count_if(reported_.begin(), reported_.end(),
                    [&unit](const FoundUnit& other) { return other.unit_id == unit.unit_id; }));
  unit.name = "unit-" + std::to_string(unit.unit_id) +
              (earlier == 0 ? "" : "-" + std::to_string(earlier + 1));
  unit.data_id = static_cast<std::uint32_t>(unit.unit_id) + earlier * kDataIdStride;
  reported_.push_back(std::move(unit));
  listener_.found(reported_.back());
}

}  // namespace velmocair::cli
