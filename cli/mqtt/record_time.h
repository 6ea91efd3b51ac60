#pragma once

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <optional>
#include <string>

namespace velmocair::mqtt {

// The time stamp of a record: the host's local wall-clock time, to the
// second, as the record's trailer and the status document's "更新时间" carry
// it. Records of one unit are ordered by it.
using RecordTime = boost::posix_time::ptime;

// "2021-3-5 7:8:9", the form of "更新时间" (leading zeros allowed); none for
// text that is no valid calendar time.
std::optional<RecordTime> parse_document_time(const std::string& text);

// The document's own form: fields without leading zeros, "2021-3-5 7:8:9".
std::string document_time_text(const RecordTime& time);

// ISO 8601 with the host's UTC offset at that time: "2021-03-05T07:08:09+08:00".
std::string iso_time(const RecordTime& time);

// The host's local time now, to the second.
RecordTime local_time_now();

}  // namespace velmocair::mqtt
