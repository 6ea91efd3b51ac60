#pragma once

#include <string>

namespace velmocair::cli {

// Prints a line (or lines) to standard output in one write, so that lines
// stay whole beside the plug-in's own lines.
void print_out(const std::string& text);
// Prints "velmocair-host: LINE" to standard error in one write.
void print_error(const std::string& line);

}  // namespace velmocair::cli
