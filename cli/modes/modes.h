#pragma once

#include "cli/options/options.h"
#include "cli/runtime/event_printer.h"
#include "cli/runtime/host_runtime.h"
#include "cli/runtime/unit_source.h"

namespace velmocair::cli {

// The things velmocair-host does; each returns its exit status. The modes'
// table (mode_table.h) names them.
int run_poll(const HostOptions& options);
int run_command(const HostOptions& options);
int run_decode(const HostOptions& options);
// history export, alarms and plot: read a history file, never change it.
int run_export(const HostOptions& options);
int run_alarms(const HostOptions& options);
int run_plot(const HostOptions& options);
// scan: probe a bus for units and their line settings.
int run_scan(const HostOptions& options);

// Each mode's usage and what it does, the head of its --help.
std::string poll_help();
std::string command_help();
std::string decode_help();
std::string history_help();
std::string export_help();
std::string alarms_help();
std::string plot_help();
std::string scan_help();

// Shared by the modes.
RuntimeOptions runtime_options(const HostOptions& options, const UnitSource& source, int rounds);
StatusOutput status_output(const HostOptions& options);
// Prints events until every bus has polled its rounds or the host is
// interrupted; then stops the host and prints what is left, and with
// --stats the units' link statistics.
void print_until_done(HostRuntime& runtime, EventPrinter& printer, bool stats);

}  // namespace velmocair::cli
