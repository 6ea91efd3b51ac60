#include "common/strict_json.h"

#include <json/reader.h>

#include <memory>
#include <sstream>
#include <string_view>

namespace velmocair {
namespace {

// jsoncpp's prefixes in its error text: "* Line L, Column C", then the
// explanation indented on the next line, sometimes followed by
// "See Line L, Column C for detail.".
constexpr std::string_view kErrorStart = "* ";
constexpr std::string_view kDetailStart = "See ";
constexpr std::string_view kDetailEnd = " for detail.";

// "Line 3, Column 7" as "line 3, column 7".
std::string place_text(std::string place) {
  for (const char* word : {"Line", "Column"}) {
    const std::size_t at = place.find(word);
    if (at != std::string::npos) {
      place[at] = static_cast<char>(place[at] - 'A' + 'a');
    }
  }
  return place;
}

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string one_line(const std::string& errors) {
  std::istringstream lines(errors);
  std::string place;
  std::string explanation;
  std::string detail;
  std::getline(lines, place);
  std::getline(lines, explanation);
  std::getline(lines, detail);
  if (place.rfind(kErrorStart, 0) != 0) {
    return trimmed(place);
  }
  std::string text = place_text(place.substr(kErrorStart.size())) + ": " + trimmed(explanation);
  if (detail.rfind(kDetailStart, 0) == 0) {
    const std::size_t end = detail.find(kDetailEnd);
    const std::string where = detail.substr(
        kDetailStart.size(), end == std::string::npos ? end : end - kDetailStart.size());
    text += " (see " + place_text(where) + ")";
  }
  return text;
}

}  // namespace

bool parse_strict_json(const std::string& text, Json::Value& root, std::string& error) {
  Json::CharReaderBuilder builder;
  Json::CharReaderBuilder::strictMode(&builder.settings_);
  const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
  std::string errors;
  if (reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
    return true;
  }
  error = one_line(errors);
  return false;
}

}  // namespace velmocair
