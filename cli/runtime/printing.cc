#include "cli/runtime/printing.h"

#include <iostream>

namespace velmocair::cli {

void print_out(const std::string& text) {
  std::cout.write(text.data(), static_cast<std::streamsize>(text.size())).flush();
}

void print_error(const std::string& line) {
  const std::string text = "velmocair-host: " + line + "\n";
  std::cerr.write(text.data(), static_cast<std::streamsize>(text.size())).flush();
}

}  // namespace velmocair::cli
