#include "commands/document_comparison.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "commands/probe_records.h"

namespace velmocair::status {
namespace {

constexpr char kNoSuchLeaf[] = "no such leaf";
constexpr std::size_t kStamp = offsetof(Velmocair_Data_t, time_stamp);
constexpr int kNumberDigits = 17;

std::string number_description(double value) {
  char text[32];
  const int length = std::snprintf(text, sizeof text, "%.*g", kNumberDigits, value);
  return std::string(text, static_cast<std::size_t>(length));
}

std::string describe(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return "null";
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return number_description(value.asDouble());
    case Json::stringValue:
      return '"' + value.asString() + '"';
    case Json::booleanValue:
      return value.asBool() ? "true" : "false";
    case Json::arrayValue:
      return "an array";
    case Json::objectValue:
      return "an object";
  }
  return {};
}

std::string describe(const Cell& cell) {
  switch (cell.kind) {
    case CellKind::text:
      return '"' + std::string(cell.text) + '"';
    case CellKind::number:
      return number_description(cell.number);
    case CellKind::flag:
      return cell.flag ? "true" : "false";
  }
  return {};
}

bool agree(const Cell& cell, const Json::Value& value) {
  switch (cell.kind) {
    case CellKind::text: {
      const char* begin = nullptr;
      const char* end = nullptr;
      return value.type() == Json::stringValue && value.getString(&begin, &end) &&
             std::string_view(begin, static_cast<std::size_t>(end - begin)) == cell.text;
    }
    case CellKind::number:
      return (value.type() == Json::intValue || value.type() == Json::uintValue ||
              value.type() == Json::realValue) &&
             value.asDouble() == cell.number;
    case CellKind::flag:
      return value.type() == Json::booleanValue && value.asBool() == cell.flag;
  }
  return false;
}

// "year-month-day hour:minute:second" into the record's stamp; false, with
// the stamp untouched, for any other text.
bool take_stamp(const Json::Value& time, RecordBytes& record) {
  if (time.type() != Json::stringValue) {
    return false;
  }
  const std::string text = time.asString();
  constexpr char kSeparators[] = {'-', '-', ' ', ':', ':', '\0'};
  constexpr unsigned kLargest[] = {0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  unsigned parts[std::size(kLargest)] = {};
  std::size_t at = 0;
  for (std::size_t i = 0; i < std::size(parts); ++i) {
    const std::size_t first = at;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9' && parts[i] <= kLargest[i];
         ++at) {
      parts[i] = parts[i] * 10 + static_cast<unsigned>(text[at] - '0');
    }
    const char separator = at < text.size() ? text[at] : '\0';
    if (at == first || parts[i] > kLargest[i] || separator != kSeparators[i]) {
      return false;
    }
    ++at;
  }
  if (at != text.size() + 1) {
    return false;
  }
  record[kStamp] = static_cast<unsigned char>(parts[0] & 0xFF);
  record[kStamp + 1] = static_cast<unsigned char>(parts[0] >> 8);
  for (std::size_t i = 1; i < std::size(parts); ++i) {
    record[kStamp + 1 + i] = static_cast<unsigned char>(parts[i]);
  }
  return true;
}

// Walks the document's leaves in their order beside the decoded leaves.
class LeafWalk {
 public:
  explicit LeafWalk(const RecordCells& cells) : cells_(cells) {}

  std::optional<LeafDifference> run(const Json::Value& document) {
    if (document.type() != Json::objectValue) {
      return LeafDifference{"",
                            "a document of " + std::to_string(cells_.leaves().size()) + " leaves",
                            describe(document)};
    }
    visit(document);
    if (!found_ && next_ < cells_.leaves().size()) {
      missing_from_document();
    }
    return found_;
  }

 private:
  void visit(const Json::Value& value) {
    if (value.type() != Json::objectValue) {
      leaf(value);
      return;
    }
    for (auto member = value.begin(); member != value.end() && !found_; ++member) {
      members_.push_back(member.name());
      visit(*member);
      members_.pop_back();
    }
  }

  void leaf(const Json::Value& value) {
    const std::vector<DocumentLeaf>& leaves = cells_.leaves();
    if (next_ < leaves.size()) {
      const std::vector<std::string_view> expected = leaf_members(leaves[next_]);
      if (std::lexicographical_compare(expected.begin(), expected.end(), members_.begin(),
                                       members_.end())) {
        missing_from_document();
        return;
      }
      if (std::equal(expected.begin(), expected.end(), members_.begin(), members_.end())) {
        const Cell& cell = cells_.cells()[next_++];
        if (!agree(cell, value)) {
          found_ = LeafDifference{path(), describe(cell), describe(value)};
        }
        return;
      }
    }
    found_ = LeafDifference{path(), kNoSuchLeaf, describe(value)};
  }

  void missing_from_document() {
    const std::size_t at = next_;
    found_ =
        LeafDifference{leaf_path(cells_.leaves()[at]), describe(cells_.cells()[at]), kNoSuchLeaf};
  }

  std::string path() const {
    std::string joined;
    for (const std::string& member : members_) {
      joined.append(joined.empty() ? "" : "/").append(member);
    }
    return joined;
  }

  const RecordCells& cells_;
  std::vector<std::string> members_;
  std::size_t next_ = 0;
  std::optional<LeafDifference> found_;
};

}  // namespace

std::optional<LeafDifference> first_difference(RecordCells& cells, const unsigned char* record,
                                               std::size_t size, const Json::Value& document) {
  RecordBytes stamped{};
  if (record == nullptr || size != stamped.size()) {
    return LeafDifference{"", "a record of " + std::to_string(stamped.size()) + " bytes",
                          "a record of " + std::to_string(size) + " bytes"};
  }
  std::memcpy(stamped.data(), record, size);
  if (document.type() == Json::objectValue) {
    take_stamp(document[kUpdateTime], stamped);
  }
  cells.decode(stamped.data(), stamped.size());
  return LeafWalk(cells).run(document);
}

std::string difference_text(const LeafDifference& difference) {
  return (difference.path.empty() ? std::string("the document") : difference.path) + ": decoded " +
         difference.decoded + ", the document " + difference.document;
}

}  // namespace velmocair::status
