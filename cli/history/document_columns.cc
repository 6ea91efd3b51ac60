#include "cli/history/document_columns.h"

#include <cstdio>
#include <map>

#include "commands/status_document_table.h"

namespace velmocair::cli {
namespace {

// The decimals of each number member of the document, by path.
const std::map<std::string, int>& number_decimals() {
  static const std::map<std::string, int> decimals = [] {
    std::map<std::string, int> built;
    for (const status::Member& member : status::kStatusDocument) {
      if (member.rule == status::Rule::number) {
        built[std::string(member.group) + "/" + member.key] =
            member.scale == status::Scale::tenths ? 1 : 0;
      }
    }
    return built;
  }();
  return decimals;
}

void collect(const Json::Value& value, std::vector<std::string>& members,
             std::vector<DocumentColumn>& columns) {
  if (!value.isObject()) {
    DocumentColumn column;
    column.members = members;
    for (const std::string& member : members) {
      column.path += (column.path.empty() ? "" : "/") + member;
    }
    if (value.isNumeric()) {
      const auto known = number_decimals().find(column.path);
      column.decimals = known != number_decimals().end() ? known->second : -1;
    }
    columns.push_back(std::move(column));
    return;
  }
  for (auto member = value.begin(); member != value.end(); ++member) {
    members.push_back(member.name());
    collect(*member, members, columns);
    members.pop_back();
  }
}

}  // namespace

DocumentColumns::DocumentColumns(const Json::Value& document) {
  std::vector<std::string> members;
  collect(document, members, columns_);
}

void append_number(std::string& out, double value, int decimals) {
  constexpr int kStatusTextDigits = 17;
  char text[64];
  const int length = decimals >= 0
                         ? std::snprintf(text, sizeof text, "%.*f", decimals, value)
                         : std::snprintf(text, sizeof text, "%.*g", kStatusTextDigits, value);
  out.append(text, static_cast<std::size_t>(length));
}

}  // namespace velmocair::cli
