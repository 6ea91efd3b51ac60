#pragma once

#include <json/value.h>

#include <string>

namespace velmocair {

// Parses `text` as one JSON document under jsoncpp's strict mode (an object
// or array at the root, no comments, no duplicate keys, nothing after the
// root). On failure returns false with `error` holding the first error on
// one line: "line L, column C: EXPLANATION". Shared by the files the
// simulator and the command-line host read.
bool parse_strict_json(const std::string& text, Json::Value& root, std::string& error);

}  // namespace velmocair
