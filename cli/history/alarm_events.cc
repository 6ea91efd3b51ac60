#include "cli/history/alarm_events.h"

#include <algorithm>
#include <cstdio>
#include <set>
#include <tuple>

#include "cli/history/history_reading.h"

namespace velmocair::cli {
namespace {

constexpr int kTimeColumn = 21;
constexpr int kDurationColumn = 12;

std::string padded(const std::string& text, int width) {
  return text +
         std::string(static_cast<std::size_t>(std::max(1, width - static_cast<int>(text.size()))),
                     ' ');
}

std::string right_aligned(const std::string& text, int width) {
  return std::string(static_cast<std::size_t>(std::max(0, width - static_cast<int>(text.size()))),
                     ' ') +
         text + "  ";
}

std::string point_name(const AlarmPoint& point) {
  return "#" + std::to_string(point.index) + " " + point.text;
}

}  // namespace

void AlarmEventTracker::row(std::uint32_t data_id, std::string_view time,
                            const std::vector<AlarmPoint>& active) {
  auto span = spans_.find(data_id);
  const bool first_row = span == spans_.end();
  if (first_row) {
    span = spans_.emplace(data_id, std::make_pair(std::string(time), std::string(time))).first;
  }
  span->second.second.assign(time);
  std::map<unsigned short, AlarmEvent>& open = open_[data_id];
  std::set<unsigned short> now;
  for (const AlarmPoint& point : active) {
    now.insert(point.index);
    if (open.count(point.index) == 0) {
      open[point.index] = {data_id, point, std::string(time), {}, 0, first_row};
    }
  }
  for (auto event = open.begin(); event != open.end();) {
    if (now.count(event->first) != 0) {
      ++event;
      continue;
    }
    event->second.cleared.assign(time);
    event->second.seconds = wall_seconds(time) - wall_seconds(event->second.raised);
    closed_.push_back(std::move(event->second));
    event = open.erase(event);
  }
}

std::vector<AlarmEvent> AlarmEventTracker::events() const {
  std::vector<AlarmEvent> all = closed_;
  for (const auto& [data_id, open] : open_) {
    const std::string& last = spans_.at(data_id).second;
    for (const auto& entry : open) {
      AlarmEvent event = entry.second;
      event.seconds = wall_seconds(last) - wall_seconds(event.raised);
      all.push_back(std::move(event));
    }
  }
  std::stable_sort(all.begin(), all.end(), [](const AlarmEvent& a, const AlarmEvent& b) {
    return std::tie(a.data_id, a.raised, a.point.index) <
           std::tie(b.data_id, b.raised, b.point.index);
  });
  return all;
}

std::string alarm_report(const AlarmEventTracker& tracker) {
  const std::vector<AlarmEvent> events = tracker.events();
  std::string report;
  for (const auto& [data_id, span] : tracker.spans()) {
    report += "data id " + std::to_string(data_id) + ": rows from " + span.first + " to " +
              span.second + "\n";
    report += padded("raised", kTimeColumn) + padded("cleared", kTimeColumn) +
              right_aligned("active", kDurationColumn) + "point\n";
    bool marked = false;
    // Per point index: the point, its events and their time.
    std::map<unsigned short, std::pair<AlarmPoint, std::pair<int, std::int64_t>>> totals;
    for (const AlarmEvent& event : events) {
      if (event.data_id != data_id) {
        continue;
      }
      marked = marked || event.active_at_start;
      report += padded(event.raised + (event.active_at_start ? "*" : ""), kTimeColumn) +
                padded(event.cleared.empty() ? "still active" : event.cleared, kTimeColumn) +
                right_aligned(duration_text(event.seconds), kDurationColumn) +
                point_name(event.point) + "\n";
      auto& total = totals[event.point.index];
      total.first = event.point;
      ++total.second.first;
      total.second.second += event.seconds;
    }
    if (totals.empty()) {
      report += "no alarm point was active\n";
      continue;
    }
    if (marked) {
      report += "* active in the unit's first row: raised then or before\n";
    }
    report += right_aligned("events", kDurationColumn / 2) +
              right_aligned("active", kDurationColumn) + "point\n";
    for (const auto& entry : totals) {
      const auto& [point, count_and_time] = entry.second;
      report += right_aligned(std::to_string(count_and_time.first), kDurationColumn / 2) +
                right_aligned(duration_text(count_and_time.second), kDurationColumn) +
                point_name(point) + "\n";
    }
  }
  return report;
}

}  // namespace velmocair::cli
