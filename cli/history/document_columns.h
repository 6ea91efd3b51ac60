#pragma once

#include <json/value.h>

#include <string>
#include <vector>

namespace velmocair::cli {

// A leaf of the status document as a column of rows.
struct DocumentColumn {
  std::string path;                  // its members joined with "/"
  std::vector<std::string> members;  // from the top level down
  // For numbers: the decimals the unit shows them with (0 or 1), from the
  // scale of the status document table; -1 for a member the table does not
  // know as a number.
  int decimals = -1;
};

// The leaves of a status document in the order its text lists them (each
// object's members sorted by key bytes, as the document holds them).
class DocumentColumns {
 public:
  explicit DocumentColumns(const Json::Value& document);

  const std::vector<DocumentColumn>& columns() const { return columns_; }

  // Hands each leaf of `document` to `each(column, value)` in column order;
  // false when the document has another number of leaves.
  template <class Each>
  bool walk(const Json::Value& document, Each&& each) const {
    std::size_t next = 0;
    walk_leaves(document, next, each);
    return next == columns_.size();
  }

 private:
  template <class Each>
  void walk_leaves(const Json::Value& value, std::size_t& next, Each& each) const {
    if (!value.isObject()) {
      if (next < columns_.size()) {
        each(columns_[next], value);
      }
      ++next;
      return;
    }
    for (auto member = value.begin(); member != value.end(); ++member) {
      walk_leaves(*member, next, each);
    }
  }

  std::vector<DocumentColumn> columns_;
};

// A number written with `decimals` decimals (-1: as the status text writes
// it, 17 significant digits).
void append_number(std::string& out, double value, int decimals);

}  // namespace velmocair::cli
