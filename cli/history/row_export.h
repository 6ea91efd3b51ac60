#pragma once

#include <cstddef>

#include "cli/history/output_file.h"
#include "cli/history/stored_rows.h"
#include "cli/options/options.h"

namespace velmocair::cli {

struct ExportSettings {
  ExportFormat format = ExportFormat::csv;
  bool bom = false;
  bool utc = false;
};

// Writes the header and every row of `rows` in the format: the stored time
// (ISO 8601), the data id, then every leaf of the record's status document
// in document order. The cells decoded without a device and the plug-in's
// documents give the same bytes. Returns the records the decoding refused
// (not 441 bytes), which are left out.
std::size_t export_rows(StoredRows& rows, const ExportSettings& settings, OutputFile& out);

}  // namespace velmocair::cli
