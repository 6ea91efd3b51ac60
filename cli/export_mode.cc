#include "cli/exit_status.h"
#include "cli/history/row_export.h"
#include "cli/history/stored_rows.h"
#include "cli/history_reading.h"
#include "cli/modes.h"
#include "cli/output_file.h"

namespace velmocair::cli {

int run_export(const HostOptions& options) {
  StoredRows rows(options);
  OutputFile out(options.output);
  const std::size_t refused = export_rows(rows, {options.format, options.bom, options.utc}, out);
  out.commit();
  return reading_status(options, refused);
}

}  // namespace velmocair::cli
