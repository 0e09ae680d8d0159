#include <climits>
#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSONData.h"
#include "tests/CaptureOutput.h"

namespace orvel {
namespace {

struct Parsed {
  bool ok;
  std::string message;  // what followed "JSONData::<operation>: "
  std::string tree;     // compact text of what the node holds afterwards
};

// Parses text into a fresh node through one of the two forms.
Parsed parse(const std::string& text, bool stream) {
  JSONData* node = new JSONData();
  JSONData::retain(node);
  testing::CaptureOutput err(2);
  bool ok;
  if (stream) {
    std::istringstream in(text);
    ok = node->setFromStream(in);
  } else {
    ok = node->setFromJsonStlString(text);
  }
  std::string message = err.finish();
  const std::string prefix =
      stream ? "JSONData::setFromStream(): " : "JSONData::setFromJsonString(): ";
  if (message.compare(0, prefix.size(), prefix) == 0) {
    message = message.substr(prefix.size());
  }
  Parsed result{ok, message, ""};
  node->toJsonString(result.tree, false, 4);
  JSONData::release(node);
  return result;
}

TEST(JSONParser, BothFormsAgreeOnEveryCase) {
  struct Case {
    const char* text;
    bool ok;
    const char* message;
    const char* tree;
  };
  const Case cases[] = {
      {"", false, "", ""},
      {" \n\t\r ", false, "", ""},
      {"// only\n/* comments */", false, "", ""},
      {"]", false, "syntax error: missing value\n", ""},
      {"\f1", false, "syntax error: missing value\n", ""},
      {"[1,]", true, "", "[1]"},
      {"[,1]", false, "syntax error: missing value\n", "[]"},
      {"[1,,2]", false, "syntax error: missing value\n", "[1]"},
      {"[1,2,x]", false, "syntax error: array not closed\n", "[1,2]"},
      {"{,}", false, "syntax error: object key must be a string\n", "{}"},
      {R"({"a":1,,"b":2})", false, "syntax error: invalid string for object key\n", R"({"a":1})"},
      {R"({"a" 1})", false, "syntax error: object colon expected\n", "{}"},
      {R"({"a":1])", false, "syntax error: object comma or end expected\n", "{}"},
      {R"({"a":1)", false, "syntax error: object comma or end expected\n", "{}"},
      {R"({"a":)", false, "", "{}"},
      {"[1}", false, "syntax error: array comma or end expected\n", "[]"},
      {"[}", false, "syntax error: array not closed\n", "[]"},
      {"{]", false, "syntax error: object not closed\n", "{}"},
      {"[", false, "syntax error: array not closed\n", "[]"},
      {R"({"a":1,"a":2})", true, "", R"({"a":1,"a":2})"},
      {"+1", false, "syntax error: invalid number\n", ""},
      {"-x", false, "syntax error: invalid number\n", ""},
      {".5", false, "syntax error: missing value\n", ""},
      {"007", true, "", "7"},
      {"-0.25", true, "", "-0.25"},
      {"12.", true, "", "12"},
      {"1e5", true, "", "1"},
      {"[1e5]", false, "syntax error: array comma or end expected\n", "[]"},
      {"-9223372036854775808", true, "", "-9223372036854775808"},
      {"18446744073709551617", true, "", "1"},  // wraps, as stated
      {"nul", false, "syntax error: invalid null value\n", ""},
      {"tRue", false, "syntax error: invalid boolean value\n", ""},
      {"True", false, "syntax error: missing value\n", ""},
      {"truex", true, "", "true"},
      {"[null,false]", true, "", "[null,false]"},
      {"\"a\\u00C9b\\u20acc\"", true, "",
       "\"a\xC9"
       "b\xAC"
       "c\""},
      {"\"ab\\u00G9\"", false, "syntax error: invalid string\n", "\"ab\""},
      {"\"\\x\\/\\b\"", true, "", "\"\\\\x/\\b\""},
      {"\"raw\ttab\x01\"", true, "", "\"raw\\ttab\x01\""},
      {"\"open", false, "syntax error: invalid string\n", "\"open\""},
      {"{\"k\\", false, "syntax error: invalid string for object key\n", "{}"},
      {"/* note */ [1, // note\n2]", true, "", "[1,2]"},
      {"[1] // note", true, "", "[1]"},
      {"[1 // note", false, "syntax error: array comma or end expected\n", "[]"},
      {"[1 /x", false, "syntax error: array comma or end expected\n", "[]"},
      {"12 34", true, "", "12"},
  };
  for (const Case& each : cases) {
    for (bool stream : {false, true}) {
      Parsed got = parse(each.text, stream);
      EXPECT_EQ(each.ok, got.ok) << each.text << (stream ? " (stream)" : "");
      EXPECT_EQ(each.message, got.message) << each.text << (stream ? " (stream)" : "");
      EXPECT_EQ(each.tree, got.tree) << each.text << (stream ? " (stream)" : "");
    }
  }
}

TEST(JSONParser, NumbersAndTheirTypes) {
  JSONData node;
  const char* text = "12 34";
  ASSERT_TRUE(node.setFromJsonString(text));
  EXPECT_EQ(JSONData::TYPE_LONG, node.getType());
  EXPECT_STREQ(" 34", text);  // the cursor stops right after the value

  std::istringstream in("12.0,");
  ASSERT_TRUE(node.setFromStream(in));
  EXPECT_EQ(JSONData::TYPE_DOUBLE, node.getType());
  EXPECT_EQ(',', in.peek());

  std::istringstream whole("12");  // a value that runs to the end fails nothing
  ASSERT_TRUE(node.setFromStream(whole));
  EXPECT_FALSE(whole.fail());

  ASSERT_TRUE(node.setFromJsonStlString("-0.0"));
  EXPECT_TRUE(std::signbit(node.doubleValue()));

  // Fraction digits far past the 19th stay finite and sensible.
  ASSERT_TRUE(node.setFromJsonStlString("0." + std::string(100, '1')));
  EXPECT_NEAR(0.111111111111L, node.doubleValue(), 1e-12L);
  ASSERT_TRUE(node.setFromJsonStlString("1." + std::string(6000, '9')));
  EXPECT_TRUE(std::isfinite(node.doubleValue()));
  EXPECT_NEAR(2.0L, node.doubleValue(), 1e-12L);
}

TEST(JSONParser, ParsingAppendsToAContainerOfTheSameType) {
  JSONData node;
  ASSERT_TRUE(node.setFromJsonStlString(R"({"a":1})"));
  ASSERT_TRUE(node.setFromJsonStlString(R"({"b":2,"a":3})"));
  std::string text;
  node.toJsonString(text, false, 4);
  EXPECT_EQ(R"({"a":1,"b":2,"a":3})", text);
  EXPECT_EQ(3, node.getByKey("a")->longValue());
}

TEST(JSONParser, DeepNestingFailsCleanly) {
  const std::string deep(1000000, '[');
  EXPECT_EQ((Parsed{false, "syntax error: array not closed\n", ""}).message,
            parse(deep, false).message);
  EXPECT_EQ("syntax error: array not closed\n", parse(deep, true).message);
  EXPECT_EQ("syntax error: object not closed\n",
            parse(std::string(JSONData::MAX_PARSE_DEPTH, '[') + "{", false).message);

  // Just inside the limit is fine.
  std::string inside(JSONData::MAX_PARSE_DEPTH, '[');
  inside += std::string(JSONData::MAX_PARSE_DEPTH, ']');
  EXPECT_TRUE(parse(inside, false).ok);
}

}  // namespace
}  // namespace orvel
