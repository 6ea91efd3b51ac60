#include "cli/history/row_formats.h"

#include <cstdio>

namespace velmocair::cli {

void append_csv_field(std::string& out, std::string_view text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    out += c;
    if (c == '"') {
      out += '"';
    }
  }
  out += '"';
}

void append_json_string(std::string& out, std::string_view text) {
  constexpr unsigned char kFirstPrintable = 0x20;
  out += '"';
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < kFirstPrintable) {
      char escaped[sizeof "\\u0000"];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
      out += escaped;
    } else {
      out += c;
    }
  }
  out += '"';
}

}  // namespace velmocair::cli
