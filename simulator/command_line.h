#pragma once

#include <string>
#include <vector>

#include "simulator/server.h"

namespace velmocair::sim {

// What the command line asks for.
struct CommandLine {
  bool help = false;
  bool version = false;
  ServerOptions options;
};

// Parses the arguments after the program name. Throws std::invalid_argument
// with a one-line reason for a bad option.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

// The --help text.
const char* usage_text();

// The --version line: the program's name and the project's version.
const char* version_line();

}  // namespace velmocair::sim
