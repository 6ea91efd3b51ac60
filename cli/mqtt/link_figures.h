#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace velmocair::mqtt {

// What the host's Modbus master has met with one unit, as the bridge shows
// it; the host fills it from its link counters after each cycle.
struct LinkFigures {
  std::uint64_t exchanges = 0;
  std::uint64_t answered = 0;  // replies that were no exception
  std::uint64_t timeouts = 0;
  std::uint64_t exception_replies = 0;
  std::uint64_t broken_frames = 0;
  std::uint64_t reconnects = 0;
  std::uint64_t cycles_completed = 0;
  std::uint64_t cycles_failed = 0;
  // Response times in milliseconds; none before the first reply.
  std::optional<double> median_ms;
  std::optional<double> p99_ms;
  std::optional<double> max_ms;
};

// One diagnostic figure: its member in the link payload and how Home
// Assistant shows it.
struct LinkFigure {
  const char* field;  // member of BASE/UNIT/link and the entity's id
  const char* name;
  const char* device_class;  // null: none
  const char* unit;          // null: none
  const char* state_class;
  std::optional<double> (*value)(const LinkFigures& link, std::uint64_t dropped);
};

namespace link_values {
inline std::optional<double> count(std::uint64_t value) { return static_cast<double>(value); }
inline std::optional<double> ok_percent(const LinkFigures& link, std::uint64_t) {
  constexpr double kPercent = 100;
  return link.exchanges == 0 ? std::nullopt
                             : std::optional<double>(kPercent * static_cast<double>(link.answered) /
                                                     static_cast<double>(link.exchanges));
}
}  // namespace link_values

// The link statistics a unit's device shows as diagnostic entities, and
// the states of the unit the bridge could not publish ("dropped").
// clang-format off
// field               name                   device class  unit   state class
inline constexpr LinkFigure kLinkFigures[] = {
    {"ok_percent",       "link ok",             nullptr,    "%",     "measurement",      link_values::ok_percent},
    {"exchanges",        "exchanges",           nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.exchanges); }},
    {"timeouts",         "time-outs",           nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.timeouts); }},
    {"exceptions",       "exception replies",   nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.exception_replies); }},
    {"broken",           "broken frames",       nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.broken_frames); }},
    {"reconnects",       "reconnects",          nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.reconnects); }},
    {"median_ms",        "response time median", "duration", "ms",   "measurement",
     [](const LinkFigures& l, std::uint64_t) { return l.median_ms; }},
    {"p99_ms",           "response time p99",   "duration", "ms",    "measurement",
     [](const LinkFigures& l, std::uint64_t) { return l.p99_ms; }},
    {"max_ms",           "response time max",   "duration", "ms",    "measurement",
     [](const LinkFigures& l, std::uint64_t) { return l.max_ms; }},
    {"cycles_completed", "cycles completed",    nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.cycles_completed); }},
    {"cycles_failed",    "cycles failed",       nullptr,    nullptr, "total_increasing",
     [](const LinkFigures& l, std::uint64_t) { return link_values::count(l.cycles_failed); }},
    {"dropped",          "states not published", nullptr,   nullptr, "total_increasing",
     [](const LinkFigures&, std::uint64_t dropped) { return link_values::count(dropped); }},
};
// clang-format on

// {"ok_percent":99.5,"exchanges":2000,...,"time":"..."}; a figure without a
// value is null.
std::string link_payload(const LinkFigures& link, std::uint64_t dropped, const std::string& iso);

}  // namespace velmocair::mqtt
