#include "commands/record_cells.h"

#include <algorithm>
#include <iterator>

namespace velmocair::status {
namespace {

constexpr std::size_t kMostPathMembers = 3;

// The leaf's members from the top level down.
struct LeafMembers {
  std::string_view names[kMostPathMembers];
  std::size_t count = 0;
};

LeafMembers members_of(const DocumentLeaf& leaf) {
  if (leaf.part == LeafPart::update_time) {
    return {{kUpdateTime}, 1};
  }
  if (leaf.part == LeafPart::alert_flag) {
    return {
        {leaf.group, kAlertArray, leaf.key},
        3
    };
  }
  return {
      {leaf.group, leaf.key},
      2
  };
}

// Document order: member names compared by their bytes, level by level, as
// the JSON library keeps an object's members.
bool before(const DocumentLeaf& a, const DocumentLeaf& b) {
  const LeafMembers first = members_of(a);
  const LeafMembers second = members_of(b);
  return std::lexicographical_compare(first.names, first.names + first.count, second.names,
                                      second.names + second.count);
}

bool same_leaf(const DocumentLeaf& a, const DocumentLeaf& b) {
  return !before(a, b) && !before(b, a);
}

Cell cell_of(const DocumentLeaf& leaf) {
  Cell cell;
  if (leaf.part == LeafPart::alert_flag) {
    cell.kind = CellKind::flag;
  } else if (leaf.part == LeafPart::value && leaf.member->rule == Rule::number) {
    cell.kind = CellKind::number;
    cell.scale = leaf.member->scale;
  }
  return cell;
}

constexpr bool plain(std::string_view text) {
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < ' ' || byte == ',' || byte == '"' || byte == '\\') {
      return false;
    }
  }
  return true;
}

constexpr bool every_text_is_plain() {
  for (const StateRow& row : kStateTexts) {
    if (!plain(row.texts.for0) || !plain(row.texts.for1) ||
        (row.texts.for2 != nullptr && !plain(row.texts.for2))) {
      return false;
    }
  }
  return plain(kInvalid) && plain(kAlarmNormal) && plain(kAlarmActive);
}
static_assert(every_text_is_plain(), "cell texts need no quoting in CSV nor escaping in JSON");

}  // namespace

std::vector<std::string_view> leaf_members(const DocumentLeaf& leaf) {
  const LeafMembers members = members_of(leaf);
  return {members.names, members.names + members.count};
}

std::string leaf_path(const DocumentLeaf& leaf) {
  const LeafMembers members = members_of(leaf);
  std::string path;
  for (std::size_t i = 0; i < members.count; ++i) {
    path.append(i == 0 ? "" : "/").append(members.names[i]);
  }
  return path;
}

std::size_t number_text(const Cell& cell, char (&out)[kNumberTextCapacity]) {
  constexpr unsigned kTenth = 10;
  const bool tenths = cell.scale == Scale::tenths;
  unsigned whole = tenths ? cell.word / kTenth : cell.word;
  char digits[kNumberTextCapacity];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  std::size_t length = 0;
  while (count > 0) {
    out[length++] = digits[--count];
  }
  if (tenths) {
    out[length++] = '.';
    out[length++] = static_cast<char>('0' + cell.word % kTenth);
  }
  out[length] = '\0';
  return length;
}

RecordCells::RecordCells() {
  // Every assignment of a build in its order; a leaf assigned twice keeps
  // the later member, as the document keeps the later value.
  for (const Member& member : kStatusDocument) {
    leaves_.push_back({member.group, member.key, LeafPart::value, &member});
    if (member.rule == Rule::alarm) {
      leaves_.push_back({member.group, member.key, LeafPart::alert_flag, &member});
    }
  }
  leaves_.push_back({nullptr, kUpdateTime, LeafPart::update_time, nullptr});
  std::stable_sort(leaves_.begin(), leaves_.end(), before);
  std::vector<DocumentLeaf> unique;
  for (const DocumentLeaf& leaf : leaves_) {
    if (!unique.empty() && same_leaf(unique.back(), leaf)) {
      unique.back() = leaf;
    } else {
      unique.push_back(leaf);
    }
  }
  leaves_ = std::move(unique);
  std::transform(leaves_.begin(), leaves_.end(), std::back_inserter(cells_), cell_of);
}

bool RecordCells::decode(const unsigned char* record, std::size_t size) {
  if (record == nullptr || size != sizeof(Velmocair_Data_t)) {
    return false;
  }
  for (std::size_t leaf = 0; leaf < leaves_.size(); ++leaf) {
    decode_leaf(record, leaf);
  }
  return true;
}

bool RecordCells::decode(const unsigned char* record, std::size_t size,
                         const std::vector<std::size_t>& only) {
  if (record == nullptr || size != sizeof(Velmocair_Data_t)) {
    return false;
  }
  for (const std::size_t leaf : only) {
    if (leaf < leaves_.size()) {
      decode_leaf(record, leaf);
    }
  }
  return true;
}

void RecordCells::decode_leaf(const unsigned char* record, std::size_t index) {
  const DocumentLeaf& leaf = leaves_[index];
  Cell& cell = cells_[index];
  if (leaf.part == LeafPart::update_time) {
    cell.text = std::string_view(time_, time_text(record, time_));
    return;
  }
  const std::uint16_t value = source_value(record, *leaf.member);
  if (leaf.part == LeafPart::alert_flag) {
    cell.flag = alarm_active(value);
    return;
  }
  switch (leaf.member->rule) {
    case Rule::state_text:
      cell.text = state_text(leaf.member->texts, value);
      return;
    case Rule::number:
      cell.word = value;
      cell.number = number_value(leaf.member->scale, value);
      return;
    case Rule::alarm:
      cell.text = alarm_text(value);
      return;
  }
}

}  // namespace velmocair::status
