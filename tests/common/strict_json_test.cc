// The strict JSON reader the simulator's scenario files and the host's site
// files share: jsoncpp's first error on one line, its place and explanation.
#include "common/strict_json.h"

#include <gtest/gtest.h>

namespace velmocair {
namespace {

struct BadText {
  const char* text;
  const char* error;
};

TEST(StrictJson, GivesTheFirstErrorsPlaceAndExplanationOnOneLine) {
  // clang-format off
  // text                             error
  const BadText cases[] = {
      {R"({"units": [ {"name": "a", )", "line 1, column 27: Missing '}' or object member name"},
      {"{\"a\": 1,\n \"a\": 2}",        "line 2, column 2: Duplicate key: 'a'"},
      {"[1, 2",                         "line 1, column 6: Missing ',' or ']' in array declaration"},
      {"",                              "line 1, column 1: Syntax error: value, object or array expected."},
      {"{} // note",                    "line 1, column 4: "},
      {R"({"a": "\uD800"})",            "line 1, column 7: additional six characters expected to parse unicode surrogate pair. (see line 1, column 14)"},
  };
  // clang-format on
  for (const BadText& test : cases) {
    Json::Value root;
    std::string error;
    EXPECT_FALSE(parse_strict_json(test.text, root, error)) << test.text;
    EXPECT_EQ(error.rfind(test.error, 0), 0u) << test.text << "\n  said: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

TEST(StrictJson, ReadsAValidDocument) {
  Json::Value root;
  std::string error;
  ASSERT_TRUE(parse_strict_json(R"({"units": [{"unit_id": 2}]})", root, error)) << error;
  EXPECT_EQ(root["units"][0]["unit_id"].asInt(), 2);
  EXPECT_TRUE(error.empty());
}

}  // namespace
}  // namespace velmocair
