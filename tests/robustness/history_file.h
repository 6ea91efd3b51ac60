#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmocair::robustness {

struct StoredRow {
  std::int64_t id;
  std::uint32_t data_id;
  std::vector<unsigned char> record;
};

// Every row of a history file in insertion order, opened as the host's own
// store opens it again after a crash (recovering its write-ahead log).
std::vector<StoredRow> stored_rows(const std::string& path);

// Makes a history file (as the host's store does) holding `rows` rows of
// blank records of `data_id`, stored long ago; empty on success.
std::string prefill_history(const std::string& path, std::uint32_t data_id, int rows);

// What PRAGMA integrity_check says about the file: "ok" when it is sound.
std::string integrity_check(const std::string& path);

}  // namespace velmocair::robustness
