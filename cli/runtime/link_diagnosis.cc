#include "cli/runtime/link_diagnosis.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "cli/options/bus_arguments.h"
#include "cli/runtime/diagnosis_table.h"
#include "host/modbus_exception.h"

namespace velmocair::cli {
namespace {

constexpr unsigned kGatewayCodes[] = {modbus_exception::kGatewayPathUnavailable,
                                      modbus_exception::kGatewayTargetFailedToRespond};
constexpr unsigned kMapCodes[] = {0x01, 0x02, 0x03};  // function, address, value refused

template <std::size_t N>
bool among(unsigned code, const unsigned (&codes)[N]) {
  return std::find(std::begin(codes), std::end(codes), code) != std::end(codes);
}

// Whether an exception code is evidence of the kind `evidence` looks for.
bool code_counts(Evidence evidence, unsigned code) {
  switch (evidence) {
    case Evidence::gateway_codes:
      return among(code, kGatewayCodes);
    case Evidence::map_codes:
      return among(code, kMapCodes);
    case Evidence::other_codes:
      return !among(code, kGatewayCodes) && !among(code, kMapCodes);
    default:
      return false;
  }
}

std::uint64_t amount(Evidence evidence, const CycleEvidence& met) {
  switch (evidence) {
    case Evidence::refused_or_lost:
      return met.open_failures + met.connection_losses;
    case Evidence::broken_frames:
      return met.broken_frames;
    case Evidence::timeouts:
      return met.timeouts;
    case Evidence::late_replies:
      return met.late_replies;
    default:
      break;
  }
  std::uint64_t codes = 0;
  for (const auto& [code, times] : met.exceptions) {
    codes += code_counts(evidence, code) ? times : 0;
  }
  return codes;
}

bool applies(On on, sitehost::BusAddress::Kind kind) {
  return on == On::any || (on == On::tcp) == (kind == sitehost::BusAddress::tcp);
}

CycleEvidence evidence_of(const sitehost::LinkCounters& counts) {
  return {counts.timeouts,   counts.broken_frames, counts.open_failures, counts.connection_losses,
          counts.exceptions, counts.late_replies,  counts.most_late,     counts.response_timeout};
}

// What `after` met beyond `before`.
CycleEvidence difference(const CycleEvidence& after, const CycleEvidence& before) {
  CycleEvidence met{after.timeouts - before.timeouts,
                    after.broken_frames - before.broken_frames,
                    after.open_failures - before.open_failures,
                    after.connection_losses - before.connection_losses,
                    {},
                    after.late_replies - before.late_replies,
                    after.most_late,
                    after.response_timeout};
  for (const auto& [code, times] : after.exceptions) {
    const auto earlier = before.exceptions.find(code);
    const std::uint64_t more = times - (earlier != before.exceptions.end() ? earlier->second : 0);
    if (more > 0) {
      met.exceptions[code] = more;
    }
  }
  return met;
}

const CauseRow* row_of(Cause cause, sitehost::BusAddress::Kind kind) {
  for (const CauseRow& row : kCauses) {
    if (row.cause == cause && applies(row.on, kind)) {
      return &row;
    }
  }
  return nullptr;
}

void replace_all(std::string& text, const std::string& mark, const std::string& by) {
  for (std::size_t at = text.find(mark); at != std::string::npos;
       at = text.find(mark, at + by.size())) {
    text.replace(at, mark.size(), by);
  }
}

std::string codes_text(Evidence evidence, const CycleEvidence& met) {
  std::string text;
  for (const auto& [code, times] : met.exceptions) {
    if (code_counts(evidence, code)) {
      char item[8];
      std::snprintf(item, sizeof item, "%02X", code);
      text += (text.empty() ? "" : ", ") + std::string(item);
    }
  }
  return text;
}

// A time-out that would have taken the latest replies: the time-out and the
// most they came late by, rounded up to the next 100 ms above.
std::string catching_timeout(const CycleEvidence& met) {
  constexpr long long kStep = 100;
  const long long needed =
      met.response_timeout.count() +
      std::chrono::duration_cast<std::chrono::milliseconds>(met.most_late).count();
  return std::to_string((needed / kStep + 1) * kStep);
}

}  // namespace

Cause cause_of(const CycleEvidence& evidence, sitehost::BusAddress::Kind kind) {
  for (const CauseRow& row : kCauses) {
    if (applies(row.on, kind) && amount(row.evidence, evidence) > 0) {
      return row.cause;
    }
  }
  return Cause::unknown;
}

std::string cause_line(Cause cause, const DiagnosedUnit& unit, const CycleEvidence& evidence) {
  const CauseRow* row = row_of(cause, unit.bus.kind);
  if (row == nullptr) {
    return "";
  }
  std::string text = row->text;
  replace_all(text, "{endpoint}", unit.bus.endpoint.text());
  replace_all(text, "{device}", unit.bus.line.device);
  replace_all(text, "{id}", std::to_string(unit.unit_id));
  replace_all(text, "{codes}", codes_text(row->evidence, evidence));
  replace_all(text, "{line}", unit.bus.line.settings());
  replace_all(text, "{timeout}", std::to_string(evidence.response_timeout.count()));
  replace_all(
      text, "{late}",
      std::to_string(
          std::chrono::duration_cast<std::chrono::milliseconds>(evidence.most_late).count()));
  replace_all(text, "{catching}", catching_timeout(evidence));
  replace_all(text, "{scan}", "velmocair-host scan " + shell_words(bus_arguments(unit.bus, false)));
  return "unit " + unit.name + ": likely cause: " + text;
}

std::string LinkDiagnosis::next_cycle(bool completed, const sitehost::LinkCounters& counts) {
  const CycleEvidence after = evidence_of(counts);
  const CycleEvidence met = difference(after, before_);
  before_ = after;
  if (completed) {
    const std::size_t failed = failed_in_row_;
    const bool told = told_.has_value();
    failed_in_row_ = 0;
    told_.reset();
    return told ? "unit " + unit_.name + ": recovered: a cycle completed after " +
                      std::to_string(failed) + " failed cycles"
                : "";
  }
  const Cause cause = cause_of(met, unit_.bus.kind);
  recent_[failed_in_row_ % recent_.size()] = cause;
  latest_[static_cast<std::size_t>(cause)] = met;
  ++failed_in_row_;
  if (failed_in_row_ < kFailuresBeforeDiagnosis) {
    return "";
  }
  const Cause likely = likely_cause();
  if (likely == Cause::unknown || (told_ && *told_ == likely)) {
    return "";
  }
  told_ = likely;
  return cause_line(likely, unit_, latest_[static_cast<std::size_t>(likely)]);
}

Cause LinkDiagnosis::likely_cause() const {
  const std::size_t newest = (failed_in_row_ - 1) % recent_.size();
  Cause likely = recent_[newest];
  std::size_t most = 0;
  // From the newest back, so that a tie goes to the latest.
  for (std::size_t back = 0; back < recent_.size(); ++back) {
    const Cause cause = recent_[(newest + recent_.size() - back) % recent_.size()];
    const auto times = static_cast<std::size_t>(std::count(recent_.begin(), recent_.end(), cause));
    if (times > most) {
      most = times;
      likely = cause;
    }
  }
  return likely;
}

}  // namespace velmocair::cli
