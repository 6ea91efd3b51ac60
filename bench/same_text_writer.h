#pragma once

#include <json/value.h>

#include <string>

// Writes a JSON value as Json::FastWriter does at its default settings (the
// text code 801 returns), byte for byte, without the temporary strings,
// member-name copies and second look-ups FastWriter makes: members are
// walked in the document's own order, each string is escaped straight into
// the output, numbers are formatted with std::to_chars. Here to measure what
// such a writer would cost; the benchmarks check its text against
// FastWriter's before they time it.
void write_same_text(const Json::Value& value, std::string& out);
