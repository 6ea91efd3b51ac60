#include "cli/history/history_reading.h"
#include "cli/history/output_file.h"
#include "cli/history/row_export.h"
#include "cli/history/stored_rows.h"
#include "cli/modes/modes.h"
#include "cli/options/exit_status.h"

namespace velmocair::cli {

int run_export(const HostOptions& options) {
  StoredRows rows(options);
  OutputFile out(options.output);
  const std::size_t refused = export_rows(rows, {options.format, options.bom, options.utc}, out);
  out.commit();
  return reading_status(options, refused);
}

std::string export_help() {
  return "usage: velmocair-host history export --history FILE [--data-id N] [--from TIME] "
         "[--to TIME] [--format csv|jsonl|jsonl-compact] [--bom] [--utc] [-o FILE]\n\n"
         "One row per stored record: the stored time (ISO 8601 with its offset), the\n"
         "data id, then every leaf of the status document, named by its path joined\n"
         "with /, in the order of the status text; numbers as the unit means them,\n"
         "texts as texts, booleans as 0/1 (JSON lines: true/false).\n";
}

}  // namespace velmocair::cli
