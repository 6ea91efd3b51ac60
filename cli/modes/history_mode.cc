#include "cli/modes/modes.h"

namespace velmocair::cli {

// `history` alone runs nothing: it names the history commands.
std::string history_help() {
  return "usage: velmocair-host history export --history FILE [--data-id N] [--from TIME] "
         "[--to TIME] [--format csv|jsonl|jsonl-compact] [--bom] [--utc] [-o FILE]\n"
         "       velmocair-host history alarms --history FILE [--data-id N] [--from TIME] "
         "[--to TIME] [-o FILE]\n"
         "       velmocair-host history plot --history FILE --values KEY,... [--data-id N] "
         "[--from TIME] [--to TIME] -o FILE.svg|FILE.png\n\n"
         "Reads a history file without changing it: every stored record as a row of\n"
         "its status document, the alarm events, or a trend chart. `history COMMAND\n"
         "--help` tells more.\n";
}

}  // namespace velmocair::cli
