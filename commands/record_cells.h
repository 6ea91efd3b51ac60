#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "commands/status_document_table.h"
#include "commands/status_value_rules.h"

// The status document of a stored record as a flat row of cells, one per
// leaf of the document in the order its text lists them, decoded straight
// from the record's bytes by the document's own value rules: no device and
// no JSON document, and no allocation once constructed.
namespace velmocair::status {

// Where a leaf takes its value.
enum class LeafPart : unsigned char {
  value,        // a group's member: its state text, number or alarm text
  alert_flag,   // the member's boolean in its group's "AlertArray"
  update_time,  // the top-level "更新时间"
};

struct DocumentLeaf {
  const char* group = nullptr;  // null for the update time
  const char* key = nullptr;
  LeafPart part = LeafPart::value;
  // The member whose value the leaf shows: the last one a build assigns to
  // it. Null for the update time.
  const Member* member = nullptr;
};

// The leaf's members from the top level down, and the same joined with
// "/": "室内机组状态/回风温度", "室内机组状态/AlertArray/烟雾报警", "更新时间"
// (a key may hold a "/" of its own: "室内机组状态/开/关状态").
std::vector<std::string_view> leaf_members(const DocumentLeaf& leaf);
std::string leaf_path(const DocumentLeaf& leaf);

enum class CellKind : unsigned char { text, number, flag };

// A leaf's value for one record. Its text never holds a comma, a double
// quote, a backslash or a control character (the document's texts are
// checked at compile time, and the time is digits and separators): CSV and
// JSON lines take it as it is.
struct Cell {
  CellKind kind = CellKind::text;
  std::string_view text;   // text: a state text, an alarm text or the time
  double number = 0;       // number: as the document holds it
  std::uint16_t word = 0;  // number: the register word it shows
  Scale scale = kUnit;     // number: whole or tenths
  bool flag = false;       // flag
};

// Room for the longest number text, "6553.5", and its zero.
inline constexpr std::size_t kNumberTextCapacity = 8;

// A number cell in the unit's own decimals: whole numbers as they are,
// tenths with one decimal ("25.3", "0.0", "6553.5"); the text of the
// document's number at those decimals. Zero-terminated, its length returned.
std::size_t number_text(const Cell& cell, char (&out)[kNumberTextCapacity]);

// Decodes records into the cells of their status document. Not copyable:
// the time cell points into the decoder.
class RecordCells {
 public:
  RecordCells();
  RecordCells(const RecordCells&) = delete;
  RecordCells& operator=(const RecordCells&) = delete;

  // The leaves in document order: each object's members sorted by their
  // bytes, as the device's document holds them.
  const std::vector<DocumentLeaf>& leaves() const { return leaves_; }

  // Decodes a record of 441 bytes into cells(); false, leaving the cells as
  // they were, for any other size.
  bool decode(const unsigned char* record, std::size_t size);
  // The same for the leaves `only` names (indexes into leaves()), for a
  // reader that needs a few: the other cells keep what they held.
  bool decode(const unsigned char* record, std::size_t size, const std::vector<std::size_t>& only);

  // One cell per leaf, in the order of leaves(); valid until the next decode.
  const std::vector<Cell>& cells() const { return cells_; }

 private:
  void decode_leaf(const unsigned char* record, std::size_t index);

  std::vector<DocumentLeaf> leaves_;
  std::vector<Cell> cells_;
  char time_[kTimeTextCapacity] = {};
};

}  // namespace velmocair::status
