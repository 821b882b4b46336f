// The JSON that every program writes: the string escaper on every kind of
// byte, and the writer's layout of nested containers and numbers.
#include "json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using zirk_formats::json_quote;
using zirk_formats::JsonWriter;

// Every control character is escaped as \u00XX (one of them once dropped
// them), the quote and the backslash with a backslash, and everything else,
// UTF-8 and DEL included, passes as it is.
TEST(JsonWriterTest, QuotesEveryByteAsJsonReadsIt) {
  EXPECT_EQ(json_quote(""), "\"\"");
  EXPECT_EQ(json_quote("a \"b\" c\\d/"), "\"a \\\"b\\\" c\\\\d/\"");
  EXPECT_EQ(json_quote("gène\x7f"), "\"gène\x7f\"");
  for (int c = 0; c < 0x20; ++c) {
    char expected[16];
    std::snprintf(expected, sizeof expected, "\"x\\u%04xy\"", c);
    EXPECT_EQ(json_quote(std::string("x") + static_cast<char>(c) + "y"),
              expected)
        << c;
  }
}

TEST(JsonWriterTest, LaysOutNestedContainersAndNumbers) {
  JsonWriter json;
  json.begin_object();
  json.key("empty");
  json.begin_object();
  json.end_object();
  json.key("list");
  json.begin_array();
  json.number(0.1);
  json.number(1e300 * 1e10);
  json.number(std::numeric_limits<double>::quiet_NaN());
  json.integer(-7);
  json.boolean(true);
  json.null();
  json.string("t\tab");
  json.end_array();
  json.key("rows");
  json.integer_row({3, 0, 12});
  json.end_object();
  EXPECT_EQ(json.text(),
            "{\n"
            "  \"empty\": {},\n"
            "  \"list\": [\n"
            "    0.1,\n"
            "    null,\n"
            "    null,\n"
            "    -7,\n"
            "    true,\n"
            "    null,\n"
            "    \"t\\u0009ab\"\n"
            "  ],\n"
            "  \"rows\": [3, 0, 12]\n"
            "}\n");
}

}  // namespace
