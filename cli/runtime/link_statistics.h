#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "host/services/link_counters.h"

namespace velmocair::cli {

// The link statistics of a unit as people read them. "ok" is the share of
// exchanges answered by a reply that was no exception; response times run
// from sending the request to the reply's last byte.

// For the summary line: "link 99.7 % ok, p99 41 ms".
std::string link_summary(const sitehost::LinkCounters& link);

// For the view, one line without its newline: exchanges and their share ok,
// what went wrong, response times and cycles.
std::string link_view_line(const sitehost::LinkCounters& link);

// The table --stats prints at the end of a run: a heading, then one row per
// unit (its name and its counts).
std::string statistics_table(
    const std::vector<std::pair<std::string, sitehost::LinkCounters>>& units);

// A time in milliseconds: 0.03, 2.4, 41.
std::string milliseconds_text(std::chrono::microseconds time);

// "02 x3, 04 x1", or "none".
std::string exception_counts(const sitehost::LinkCounters& link);

}  // namespace velmocair::cli
