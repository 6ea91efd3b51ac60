#include "cli/runtime/event_printer.h"

#include "cli/runtime/link_statistics.h"
#include "cli/runtime/status_view.h"

namespace velmocair::cli {

EventPrinter::EventPrinter(HostRuntime& runtime, StatusOutput output)
    : runtime_(runtime), output_(output) {
  for (std::size_t unit = 0; unit < runtime.unit_count(); ++unit) {
    const UnitConfig& config = runtime.unit(unit);
    diagnoses_.emplace_back();
    if (config.bus) {
      diagnoses_.back().emplace(DiagnosedUnit{config.name, runtime.unit_id(unit), *config.bus});
    }
  }
}

void EventPrinter::print(const HostEvent& event) {
  const std::string& unit = runtime_.unit(event.unit).name;
  switch (event.kind) {
    case HostEvent::cycle_completed:
      print_cycle(event);
      diagnose(event);
      break;
    case HostEvent::cycle_failed:
      ++failed_cycles_;
      print_error("cycle " + std::to_string(event.round) + " unit " + unit + ": " + event.text);
      diagnose(event);
      break;
    case HostEvent::alarm_raised:
    case HostEvent::alarm_cleared:
      print_out(std::string(event.kind == HostEvent::alarm_raised ? "alarm raised: "
                                                                  : "alarm cleared: ") +
                "unit " + unit + " #" + std::to_string(event.alarm_index) + " " + event.text +
                "\n");
      break;
    case HostEvent::notice:
      print_error(event.text);
      break;
  }
}

void EventPrinter::print_queued() {
  while (std::optional<HostEvent> event = runtime_.queued_event()) {
    print(*event);
  }
}

void EventPrinter::print_cycle(const HostEvent& event) {
  const UnitConfig& unit = runtime_.unit(event.unit);
  std::string text = runtime_.status_text(event.unit);
  if (output_ == StatusOutput::status_text) {
    if (text.empty() || text.back() != '\n') {
      text += '\n';
    }
    print_out(text);
    return;
  }
  const std::string heading = "cycle " + std::to_string(event.round) + " unit " + unit.name;
  const std::optional<Json::Value> document = parse_status_text(text);
  if (!document) {
    print_out(heading + ": completed, but the device returned no status document\n");
  } else if (output_ == StatusOutput::view) {
    print_out(readable_view(heading + " (data id " + std::to_string(unit.data_id) + ")", *document,
                            event.active_points, link_view_line(event.link)));
  } else {
    print_out(summary_line(heading, *document, event.active_points, link_summary(event.link)));
  }
}

void EventPrinter::diagnose(const HostEvent& event) {
  std::optional<LinkDiagnosis>& diagnosis = diagnoses_.at(event.unit);
  if (!diagnosis) {
    return;
  }
  const std::string line =
      diagnosis->next_cycle(event.kind == HostEvent::cycle_completed, event.link);
  if (!line.empty()) {
    print_error(line);
  }
}

}  // namespace velmocair::cli
