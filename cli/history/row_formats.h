#pragma once

#include <string>
#include <string_view>

namespace velmocair::cli {

// A CSV field (RFC 4180): as it is, or in double quotes with each quote
// doubled when it holds a comma, a quote, a carriage return or a line feed.
void append_csv_field(std::string& out, std::string_view text);
// A JSON string: in double quotes, with quotes, backslashes and control
// characters escaped; other UTF-8 text as it is.
void append_json_string(std::string& out, std::string_view text);

}  // namespace velmocair::cli
