#include "cli/scan/bus_scanner.h"

#include <algorithm>
#include <array>
#include <iterator>

#include "device/poll_cycle_table.h"
#include "host/modbus_reply.h"
#include "host/services/adu.h"
#include "host/services/line_timing.h"

namespace velmocair::cli {
namespace {

using sitehost::LinkResult;

constexpr unsigned char kExceptionFlag = 0x80;
constexpr std::size_t kExceptionCodeAt = 1;
// A gateway's answer for a unit id where nothing answers behind it.
constexpr unsigned kGatewayPathUnavailable = 0x0A;
constexpr unsigned kGatewayTargetSilent = 0x0B;
constexpr double kMedian = 0.5;

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

std::size_t unit_count(const ScanPlan& plan) {
  return static_cast<std::size_t>(plan.last_unit_id - plan.first_unit_id + 1);
}

}  // namespace

BusScanner::BusScanner(ScanPlan plan, ScanListener& listener)
    : plan_(std::move(plan)),
      listener_(listener),
      link_(plan_.settings.front(), sitehost::LinkTiming{std::nullopt, false, 0}) {}

LinkResult BusScanner::open() { return link_.open(); }

std::chrono::milliseconds BusScanner::timeout_for(const sitehost::BusAddress& setting,
                                                  const ModbusRequest& request) const {
  if (plan_.timeout) {
    return *plan_.timeout;
  }
  if (setting.kind == sitehost::BusAddress::tcp) {
    return sitehost::kMinResponseTimeout;
  }
  const std::size_t request_bytes =
      sitehost::raw_request(1, request).bytes.size() + sitehost::kRtuCrcLength;
  return sitehost::exchange_allowance(setting.line,
                                      request_bytes + sitehost::rtu_reply_length(request));
}

std::chrono::milliseconds BusScanner::probe_timeout(const sitehost::BusAddress& setting) const {
  return timeout_for(setting, request_of(kFirstPollStep));
}

std::chrono::milliseconds BusScanner::time_left(std::size_t setting, int next_unit_id) const {
  std::chrono::milliseconds left =
      (plan_.last_unit_id - next_unit_id + 1) * probe_timeout(plan_.settings[setting]);
  for (std::size_t later = setting + 1; later < plan_.settings.size(); ++later) {
    left += static_cast<int>(unit_count(plan_)) * probe_timeout(plan_.settings[later]);
  }
  return left;
}

LinkResult BusScanner::run(const std::function<bool()>& stopped) {
  const std::size_t total = plan_.settings.size() * unit_count(plan_);
  std::size_t done = 0;
  for (std::size_t index = 0; index < plan_.settings.size(); ++index) {
    const sitehost::BusAddress& setting = plan_.settings[index];
    if (index > 0 && setting.kind == sitehost::BusAddress::rtu) {
      link_.change_line(setting.line);
    }
    std::vector<int> garbled;
    for (int unit_id = plan_.first_unit_id; unit_id <= plan_.last_unit_id; ++unit_id) {
      if (stopped()) {
        return LinkResult::success();
      }
      if (LinkResult opened = link_.open(); !opened.is_ok()) {
        return opened;
      }
      const Heard heard = probe(setting, unit_id);
      if (heard == Heard::garble) {
        garbled.push_back(unit_id);
      } else if (heard == Heard::unit) {
        found_.push_back(walk_cycle(setting, unit_id));
        listener_.found(found_.back());
      }
      listener_.probed(++done, total, time_left(index, unit_id + 1));
      if (plan_.stop_at_first && !found_.empty()) {
        break;
      }
    }
    if (!garbled.empty()) {
      listener_.garbled(setting, garbled);
    }
    if (plan_.stop_at_first && !found_.empty()) {
      break;
    }
  }
  return LinkResult::success();
}

BusScanner::Heard BusScanner::probe(const sitehost::BusAddress& setting, int unit_id) {
  const ModbusRequest request = request_of(kFirstPollStep);
  link_.set_timing({timeout_for(setting, request), false, 0});
  const LinkResult result = link_.exchange(unit_id, request, pdu_);
  if (result.other_unit != 0) {
    listener_.late(setting, result.other_unit);
  }
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

FoundUnit BusScanner::walk_cycle(const sitehost::BusAddress& setting, int unit_id) {
  FoundUnit unit{setting, unit_id, static_cast<int>(std::size(kPollCycle)), 0, {}, {}};
  std::array<unsigned char, kMaxCoilsPerRead> bits{};
  std::array<std::uint16_t, kMaxRegistersPerRead> registers{};
  const ReplyTables tables{bits.data(), bits.size(), registers.data(), registers.size()};
  for (const PollStep& step : kPollCycle) {
    const ModbusRequest request = request_of(step);
    link_.set_timing({timeout_for(setting, request), false, 0});
    if (!link_.exchange(unit_id, request, pdu_).is_ok()) {
      continue;
    }
    const ReplyDecode decoded = decode_reply(request, pdu_.data(), pdu_.size(), tables);
    if (decoded.status == ReplyDecode::ok) {
      ++unit.answered;
    } else if (decoded.status == ReplyDecode::exception) {
      ++unit.refused[decoded.exception_code];
    } else {
      link_.refuse_reply(unit_id);
    }
  }
  unit.response = link_.counters(unit_id).response_times.quantile(kMedian);
  return unit;
}

}  // namespace velmocair::cli
