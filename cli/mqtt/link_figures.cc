#include "cli/mqtt/link_figures.h"

#include <charconv>
#include <iterator>

namespace velmocair::mqtt {

std::string link_payload(const LinkFigures& link, std::uint64_t dropped, const std::string& iso) {
  std::string out = "{";
  for (const LinkFigure& figure : kLinkFigures) {
    out += '"';
    out += figure.field;
    out += "\":";
    const std::optional<double> value = figure.value(link, dropped);
    if (value) {
      char digits[32];
      const auto result = std::to_chars(std::begin(digits), std::end(digits), *value);
      out.append(digits, result.ptr);
    } else {
      out += "null";
    }
    out += ',';
  }
  out += "\"time\":\"" + iso + "\"}";
  return out;
}

}  // namespace velmocair::mqtt
