#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// Byte-wise access to a packed record of unsigned-char blocks: the record is
// handled as its bytes, and a 16-bit word is read from two bytes at any
// offset, low byte first.
namespace velmocair {

template <class Record>
unsigned char* record_bytes(Record& record) {
  static_assert(std::is_trivially_copyable_v<Record> && std::alignment_of_v<Record> == 1);
  return reinterpret_cast<unsigned char*>(&record);
}

template <class Record>
const unsigned char* record_bytes(const Record& record) {
  static_assert(std::is_trivially_copyable_v<Record> && std::alignment_of_v<Record> == 1);
  return reinterpret_cast<const unsigned char*>(&record);
}

inline std::uint16_t word_at(const unsigned char* bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

}  // namespace velmocair
