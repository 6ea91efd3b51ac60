#include "bench/same_text_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned kReplacement = 0xFFFD;  // what the JSON library writes for broken UTF-8
constexpr unsigned kFirstPrintable = 0x20;
constexpr unsigned kLastAsIs = 0x7F;
constexpr unsigned kFirstBeyondPlane0 = 0x10000;
constexpr unsigned kHighSurrogate = 0xD800;
constexpr unsigned kLowSurrogate = 0xDC00;
constexpr unsigned kLastSurrogate = 0xDFFF;
constexpr unsigned kSurrogateBits = 10;
constexpr unsigned kSurrogateMask = 0x3FF;
constexpr int kSignificantDigits = 17;  // FastWriter's precision for doubles

// The text being written: room is made in steps large enough for one
// token, which is then written through a plain pointer.
class Output {
 public:
  explicit Output(std::string& text) : text_(text) { text_.resize(text_.capacity()); }
  ~Output() { text_.resize(used_); }
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;

  char* room(std::size_t bytes) {
    if (used_ + bytes > text_.size()) {
      text_.resize(std::max(2 * text_.size(), used_ + bytes));
    }
    return text_.data() + used_;
  }
  void wrote(const char* end) { used_ = static_cast<std::size_t>(end - text_.data()); }
  void put(const char* bytes, std::size_t length) {
    wrote(static_cast<char*>(std::memcpy(room(length), bytes, length)) + length);
  }
  void put(const char* bytes) { put(bytes, std::strlen(bytes)); }
  void put(char byte) {
    char* const at = room(1);
    *at = byte;
    wrote(at + 1);
  }

 private:
  std::string& text_;
  std::size_t used_ = 0;
};

// The longest form of one input byte: a control character as \u00XX.
constexpr std::size_t kMostPerByte = 6;
constexpr std::size_t kQuotes = 2;

// The next code point of UTF-8 text, decoded as the JSON library's writer
// does (a broken or overlong sequence is one replacement character).
unsigned next_code_point(const char*& at, const char* end) {
  const auto byte = [&at](int i) {
    return static_cast<unsigned>(static_cast<unsigned char>(at[i]));
  };
  const unsigned first = byte(0);
  if (first < 0x80) {
    return first;
  }
  if (first < 0xE0) {
    if (end - at < 2) {
      return kReplacement;
    }
    const unsigned point = ((first & 0x1F) << 6) | (byte(1) & 0x3F);
    at += 1;
    return point < 0x80 ? kReplacement : point;
  }
  if (first < 0xF0) {
    if (end - at < 3) {
      return kReplacement;
    }
    const unsigned point = ((first & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    at += 2;
    if (point >= kHighSurrogate && point <= kLastSurrogate) {
      return kReplacement;
    }
    return point < 0x800 ? kReplacement : point;
  }
  if (first < 0xF8) {
    if (end - at < 4) {
      return kReplacement;
    }
    const unsigned point = ((first & 0x07) << 18) | ((byte(1) & 0x3F) << 12) |
                           ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    at += 3;
    return point < kFirstBeyondPlane0 ? kReplacement : point;
  }
  return kReplacement;
}

char* put_u_escape(unsigned unit, char* at) {
  at[0] = '\\';
  at[1] = 'u';
  at[2] = kHexDigits[(unit >> 12) & 0xF];
  at[3] = kHexDigits[(unit >> 8) & 0xF];
  at[4] = kHexDigits[(unit >> 4) & 0xF];
  at[5] = kHexDigits[unit & 0xF];
  return at + kMostPerByte;
}

// The escape of a character that has a short one, else null.
const char* short_escape(char c) {
  switch (c) {
    case '"':
      return "\\\"";
    case '\\':
      return "\\\\";
    case '\b':
      return "\\b";
    case '\f':
      return "\\f";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    case '\t':
      return "\\t";
    default:
      return nullptr;
  }
}

void put_quoted(const char* begin, const char* end, Output& out) {
  char* at = out.room(kMostPerByte * static_cast<std::size_t>(end - begin) + kQuotes);
  *at++ = '"';
  for (const char* in = begin; in != end; ++in) {
    if (const char* escape = short_escape(*in)) {
      *at++ = escape[0];
      *at++ = escape[1];
      continue;
    }
    const unsigned point = next_code_point(in, end);
    if (point >= kFirstPrintable && point <= kLastAsIs) {
      *at++ = static_cast<char>(point);
    } else if (point < kFirstBeyondPlane0) {
      at = put_u_escape(point, at);
    } else {
      const unsigned beyond = point - kFirstBeyondPlane0;
      at = put_u_escape(kHighSurrogate + (beyond >> kSurrogateBits), at);
      at = put_u_escape(kLowSurrogate + (beyond & kSurrogateMask), at);
    }
  }
  *at++ = '"';
  out.wrote(at);
}

void put_double(double value, Output& out) {
  if (std::isnan(value)) {
    out.put("null");
    return;
  }
  if (std::isinf(value)) {
    out.put(value < 0 ? "-1e+9999" : "1e+9999");
    return;
  }
  char text[std::numeric_limits<double>::max_digits10 + 16];
  const auto written = std::to_chars(text, text + sizeof text, value, std::chars_format::general,
                                     kSignificantDigits);
  const std::size_t length = static_cast<std::size_t>(written.ptr - text);
  out.put(text, length);
  // As the JSON library does: a double always shows as one.
  if (std::memchr(text, '.', length) == nullptr && std::memchr(text, 'e', length) == nullptr) {
    out.put(".0");
  }
}

template <class Number>
void put_integer(Number value, Output& out) {
  char text[std::numeric_limits<Number>::digits10 + 3];
  const auto written = std::to_chars(text, text + sizeof text, value);
  out.put(text, static_cast<std::size_t>(written.ptr - text));
}

void put_value(const Json::Value& value, Output& out) {
  switch (value.type()) {
    case Json::nullValue:
      out.put("null");
      return;
    case Json::intValue:
      put_integer(value.asLargestInt(), out);
      return;
    case Json::uintValue:
      put_integer(value.asLargestUInt(), out);
      return;
    case Json::realValue:
      put_double(value.asDouble(), out);
      return;
    case Json::stringValue: {
      const char* begin = nullptr;
      const char* end = nullptr;
      if (!value.getString(&begin, &end)) {
        begin = end = "";
      }
      put_quoted(begin, end, out);
      return;
    }
    case Json::booleanValue:
      out.put(value.asBool() ? "true" : "false");
      return;
    case Json::arrayValue: {
      out.put('[');
      for (Json::ArrayIndex i = 0; i < value.size(); ++i) {
        if (i != 0) {
          out.put(',');
        }
        put_value(value[i], out);
      }
      out.put(']');
      return;
    }
    case Json::objectValue: {
      out.put('{');
      bool first = true;
      for (auto member = value.begin(); member != value.end(); ++member) {
        if (!first) {
          out.put(',');
        }
        first = false;
        const char* name_end = nullptr;
        const char* const name = member.memberName(&name_end);
        put_quoted(name, name_end, out);
        out.put(':');
        put_value(*member, out);
      }
      out.put('}');
      return;
    }
  }
}

}  // namespace

void write_same_text(const Json::Value& value, std::string& text) {
  Output out(text);
  put_value(value, out);
  out.put('\n');
}
