#include "cli/scan/scan_report.h"

#include <json/writer.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "cli/options/bus_arguments.h"
#include "cli/runtime/link_statistics.h"
#include "cli/runtime/printing.h"
#include "cli/runtime/site_file.h"
#include "host/modbus_reply.h"

namespace velmocair::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kProgressEvery{100};
constexpr std::size_t kBarWidth = 20;
constexpr int kSecondsPerMinute = 60;
constexpr double kTenthsBelowSeconds = 10.0;
constexpr const char* kClearLine = "\r\033[K";

std::string duration_text(Clock::duration span) {
  const double seconds = std::chrono::duration<double>(span).count();
  char text[48];
  if (seconds < kTenthsBelowSeconds) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else if (seconds < kSecondsPerMinute) {
    std::snprintf(text, sizeof text, "%.0f s", seconds);
  } else {
    const long whole = static_cast<long>(seconds);
    std::snprintf(text, sizeof text, "%ld min %ld s", whole / kSecondsPerMinute,
                  whole % kSecondsPerMinute);
  }
  return text;
}

std::string plural(std::size_t count, const std::string& one, const std::string& many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Numbers are written with at most the two decimals the text shows.
std::string compact(const Json::Value& value) {
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "";
  writer["precisionType"] = "decimal";
  writer["precision"] = 2;
  return Json::writeString(writer, value);
}

// A time in milliseconds as the text shows it: whole above 100 ms.
Json::Value milliseconds_json(std::chrono::microseconds time) {
  const double shown = std::stod(milliseconds_text(time));
  const auto whole = static_cast<Json::Int64>(shown);
  return static_cast<double>(whole) == shown ? Json::Value(whole) : Json::Value(shown);
}

// The terminal's width in columns on `fd`, 0 when unknown.
std::size_t terminal_columns(int fd) {
  winsize size{};
  return ioctl(fd, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

std::string joined(const std::vector<std::string>& items, const std::string& between) {
  std::string text;
  for (const std::string& item : items) {
    text += (text.empty() ? "" : between) + item;
  }
  return text;
}

std::string exception_text(unsigned code) {
  ReplyDecode decoded;
  decoded.status = ReplyDecode::exception;
  decoded.exception_code = static_cast<unsigned char>(code);
  return describe_reply_failure(decoded);
}

// How the unit answered the poll cycle, and what its values say.
std::string answers_text(const FoundUnit& unit) {
  std::string text = (unit.this_type() ? "a unit of this type, " : "another Modbus device, ") +
                     std::to_string(unit.answered) + " of " + std::to_string(unit.reads) +
                     " reads answered";
  int unanswered = unit.reads - unit.answered;
  for (const auto& [code, reads] : unit.refused) {
    text += ", " + std::to_string(reads) + " refused (" + exception_text(code) + ")";
    unanswered -= reads;
  }
  if (unanswered > 0) {
    text += ", " + std::to_string(unanswered) + " without a valid reply";
  }
  if (unit.reasked > 0) {
    std::vector<std::string> why;
    if (unit.busy > 0) {
      why.push_back(std::to_string(unit.busy) + " busy");
    }
    if (unit.unanswered > 0) {
      why.push_back(std::to_string(unit.unanswered) + " without a valid reply");
    }
    text +=
        ", " +
        plural(static_cast<std::size_t>(unit.reasked), "read asked again", "reads asked again") +
        " (" + joined(why, ", ") + ")";
  }
  if (!unit.values.plausible()) {
    text += ", values no unit of this type holds: " + joined(unit.values.failed, "; ");
  } else if (!unit.values.passed.empty()) {
    text += ", values plausible (" + joined(unit.values.passed, ", ") + ")";
  }
  return text;
}

std::string timing_text(const FoundUnit& unit) {
  std::string text = "response " + milliseconds_text(unit.response) + " ms";
  if (unit.timeout) {
    text += ", the slowest " + milliseconds_text(unit.slowest) +
            " ms: polling needs --timeout-ms " + std::to_string(unit.timeout->count());
  }
  if (unit.retries) {
    text += std::string(unit.timeout ? " and" : ": polling needs") + " --retries " +
            std::to_string(*unit.retries);
  }
  return text;
}

// Keys a site entry carries beside the unit's transport for a unit that
// needs a longer time-out or more retries than polling's own.
constexpr const char* kTimeoutKey = "timeout_ms";
constexpr const char* kRetriesKey = "retries";

Json::Value site_entry(const FoundUnit& unit) {
  Json::Value entry(Json::objectValue);
  entry["name"] = unit.name;
  entry["data_id"] = unit.data_id;
  entry["transport"] = transport_json(unit.bus);
  entry["setting"]["modbus"]["unit_id"] = unit.unit_id;
  if (unit.timeout) {
    entry[kTimeoutKey] = static_cast<Json::Int64>(unit.timeout->count());
  }
  if (unit.retries) {
    entry[kRetriesKey] = *unit.retries;
  }
  return entry;
}

std::string poll_command(const FoundUnit& unit) {
  std::vector<std::string> words = bus_arguments(unit.bus, true);
  words.insert(words.end(), {"--unit-id", std::to_string(unit.unit_id)});
  if (unit.timeout) {
    words.insert(words.end(), {"--timeout-ms", std::to_string(unit.timeout->count())});
  }
  if (unit.retries) {
    words.insert(words.end(), {"--retries", std::to_string(*unit.retries)});
  }
  return "velmocair-host " + shell_words(words);
}

Json::Value unit_json(const FoundUnit& unit) {
  Json::Value object(Json::objectValue);
  object["finding"] = "unit";
  object["unit_id"] = unit.unit_id;
  object["this_type"] = unit.this_type();
  object["transport"] = transport_json(unit.bus);
  object["reads"] = unit.reads;
  object["answered"] = unit.answered;
  object["refused"] = Json::Value(Json::objectValue);
  for (const auto& [code, reads] : unit.refused) {
    char key[8];
    std::snprintf(key, sizeof key, "%02X", code);
    object["refused"][key] = reads;
  }
  object["asked_again"] = unit.reasked;
  object["values_plausible"] = Json::Value(Json::arrayValue);
  for (const std::string& check : unit.values.passed) {
    object["values_plausible"].append(check);
  }
  object["values_failed"] = Json::Value(Json::arrayValue);
  for (const std::string& failure : unit.values.failed) {
    object["values_failed"].append(failure);
  }
  object["response_ms"] = milliseconds_json(unit.response);
  object["slowest_ms"] = milliseconds_json(unit.slowest);
  object["every_setting"] = unit.every_setting;
  object["every_unit_id"] = unit.every_unit_id;
  if (unit.this_type()) {
    object["site_entry"] = site_entry(unit);
    object["command"] = poll_command(unit);
  }
  return object;
}

// What makes one device found once stand for many places.
std::string alike_text(const FoundUnit& unit) {
  if (unit.every_setting) {
    return "; the same answers at every line setting: the link passes every line setting: a "
           "converter or virtual port; any setting works";
  }
  if (unit.every_unit_id) {
    return "; the same answers at every unit id: one device, which answers every unit id";
  }
  return "";
}

Json::Value unit_ids_json(const std::vector<int>& unit_ids) {
  Json::Value list(Json::arrayValue);
  for (const int id : unit_ids) {
    list.append(id);
  }
  return list;
}

std::string unit_ids_text(const std::vector<int>& unit_ids) {
  std::string text;
  for (const int id : unit_ids) {
    text += (text.empty() ? "" : ", ") + std::to_string(id);
  }
  return text;
}

}  // namespace

std::string where_text(const sitehost::BusAddress& bus) {
  return bus.kind == sitehost::BusAddress::rtu ? bus.line.settings() : bus.name();
}

ScanReport::ScanReport(bool json, std::size_t settings)
    : json_(json), settings_(settings), progress_(isatty(STDERR_FILENO) != 0) {}

ScanReport::~ScanReport() { clear_progress(); }

void ScanReport::clear_progress() {
  if (progress_shown_) {
    std::cerr << kClearLine << std::flush;
    progress_shown_ = false;
  }
}

void ScanReport::print_json(const Json::Value& object) {
  clear_progress();
  print_out(compact(object) + "\n");
}

void ScanReport::say(const std::string& line) {
  clear_progress();
  if (json_) {
    print_error(line);
  } else {
    print_out(line + "\n");
  }
}

void ScanReport::probed(std::size_t done, std::size_t total, std::chrono::milliseconds left) {
  const Clock::time_point now = Clock::now();
  if (!progress_ || (now < progress_at_ + kProgressEvery && done < total)) {
    return;
  }
  progress_at_ = now;
  const std::size_t filled = kBarWidth * done / total;
  const std::size_t per_setting = total / settings_;
  const std::string counted =
      settings_ > 1 ? std::to_string(done / per_setting) + " of " + std::to_string(settings_) +
                          " line settings"
                    : std::to_string(done) + " of " + std::to_string(total) + " unit ids";
  std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '-') + "] " +
                     counted + ", " + plural(units_found_, "unit", "units") + " found, about " +
                     duration_text(left) + " left";
  // A line as wide as the terminal would wrap: each refresh a new line.
  const std::size_t columns = terminal_columns(STDERR_FILENO);
  if (columns > 0 && line.size() >= columns) {
    line.resize(columns - 1);
  }
  std::cerr << kClearLine << line << std::flush;
  progress_shown_ = true;
}

void ScanReport::found(const FoundUnit& unit) {
  ++units_found_;
  if (json_) {
    print_json(unit_json(unit));
    return;
  }
  say("found unit " + std::to_string(unit.unit_id) + " at " + where_text(unit.bus) + ": " +
      answers_text(unit) + ", " + timing_text(unit) + alike_text(unit));
}

void ScanReport::garbled(const sitehost::BusAddress& bus, const std::vector<int>& unit_ids) {
  const bool several = unit_ids.size() > 1;
  if (json_) {
    Json::Value object(Json::objectValue);
    object["finding"] = "garble";
    object["transport"] = transport_json(bus);
    object["unit_ids"] = unit_ids_json(unit_ids);
    print_json(object);
    return;
  }
  if (bus.kind == sitehost::BusAddress::rtu) {
    say("bytes at " + where_text(bus) + " but no valid frame (unit " +
        (several ? "addresses " : "address ") + unit_ids_text(unit_ids) +
        "): something answers with other line settings");
  } else {
    say("bytes from " + where_text(bus) + " but no valid frame (unit " +
        (several ? "ids " : "id ") + unit_ids_text(unit_ids) + "): is it a Modbus/TCP endpoint?");
  }
}

void ScanReport::late(const sitehost::BusAddress& bus, int unit_id,
                      std::chrono::milliseconds within) {
  if (json_) {
    Json::Value object(Json::objectValue);
    object["finding"] = "late";
    object["unit_id"] = unit_id;
    object["transport"] = transport_json(bus);
    object["within_ms"] = static_cast<Json::Int64>(within.count());
    print_json(object);
    return;
  }
  say("unit " + std::to_string(unit_id) + " at " + where_text(bus) +
      " answered after its time-out, within " + std::to_string(within.count()) +
      " ms of its request, and not when asked again: a longer --timeout-ms may find it");
}

void ScanReport::finish(const std::vector<FoundUnit>& units, Clock::duration took, bool complete) {
  std::size_t this_type = 0;
  for (const FoundUnit& unit : units) {
    this_type += unit.this_type() ? 1 : 0;
  }
  const std::size_t others = units.size() - this_type;
  say(std::string(complete ? "scanned in " : "stopped after ") + duration_text(took) + ": " +
      (units.empty() ? std::string("no unit answered")
                     : plural(this_type, "unit", "units") + " of this type, " +
                           plural(others, "other Modbus device", "other Modbus devices")));
  if (json_) {
    return;
  }
  for (const FoundUnit& unit : units) {
    if (!unit.this_type()) {
      continue;
    }
    print_out("\nunit " + std::to_string(unit.unit_id) + " at " + where_text(unit.bus) +
              (unit.every_setting ? " (any setting works)" : "") +
              ", a site-file entry (one of \"units\"):\n  " + compact(site_entry(unit)) +
              "\nand the command line that polls it:\n  " + poll_command(unit) + "\n");
  }
}

}  // namespace velmocair::cli
