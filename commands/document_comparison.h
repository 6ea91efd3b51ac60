#pragma once

#include <json/value.h>

#include <cstddef>
#include <optional>
#include <string>

#include "commands/record_cells.h"

namespace velmocair::status {

// A leaf in which a device's status document and the decoded cells differ.
struct LeafDifference {
  std::string path;      // its members joined with "/"
  std::string decoded;   // the decoded cell, or "no such leaf"
  std::string document;  // the document's value, or "no such leaf"
};

// Compares `document`, a device's status document of `record`, leaf by leaf
// in document order with the cells `cells` decodes from the record: the
// first leaf that differs in its path, its kind (text, number, boolean) or
// its value, or nothing when all agree. A device stamps the record it loads
// with the time of loading, so the update time is compared in its form: the
// record is decoded with the stamp the document shows.
std::optional<LeafDifference> first_difference(RecordCells& cells, const unsigned char* record,
                                               std::size_t size, const Json::Value& document);

// One line: "PATH: decoded VALUE, the document VALUE".
std::string difference_text(const LeafDifference& difference);

}  // namespace velmocair::status
