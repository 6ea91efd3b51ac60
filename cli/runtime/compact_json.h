#pragma once

#include <json/value.h>

#include <string>

namespace velmocair::cli {

// How a compact text writes characters outside ASCII.
enum class NonAscii : unsigned char {
  escaped,  // as \uXXXX
  utf8,     // as they are
};

// `value` as JSON on one line, without spaces.
std::string compact_json(const Json::Value& value, NonAscii non_ascii);

}  // namespace velmocair::cli
