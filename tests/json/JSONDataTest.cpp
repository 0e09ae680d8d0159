#include <climits>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSONData.h"
#include "tests/Testing.h"

namespace orvel {
namespace {

// A root node held by the test; released (with everything it holds) at
// the end, so the leak checker sees whatever a mutation forgot.
class Tree {
 public:
  Tree() : root(new JSONData()) { JSONData::retain(root); }
  explicit Tree(const char* json) : Tree() { EXPECT_TRUE(root->setFromJsonStlString(json)); }
  ~Tree() { JSONData::release(root); }
  std::string text() const {
    std::string out;
    root->toJsonString(out, false, 4);
    return out;
  }
  JSONData* operator->() const { return root; }
  JSONData* const root;
};

JSONData* number(long long v) {
  JSONData* node = new JSONData();
  node->setLong(v);
  return node;
}

TEST(JSONData, TypeChangesAndKeys) {
  Tree tree(R"({"a":1,"b":2,"c":3})");
  tree->setObject();
  EXPECT_EQ(3, tree->length());

  Tree text;
  text->setString("x");
  text->setByKey("a", number(1));
  EXPECT_EQ(R"({"a":1})", text.text());

  tree->setByKey("b", number(20));  // in place
  tree->setByKey("d", nullptr);     // missing: nothing
  tree->setByKey("a", nullptr);
  EXPECT_EQ(R"({"b":20,"c":3})", tree.text());

  Tree twice(R"({"a":1,"a":2})");
  EXPECT_EQ(2, twice->getByKey("a")->longValue());
  twice->erase("a");
  EXPECT_EQ(1, twice->getByKey(std::string("a"))->longValue());
  EXPECT_EQ("a", *twice->getKeyAtIndex(0));
  EXPECT_EQ(nullptr, twice->getKeyAtIndex(1));
  EXPECT_EQ(nullptr, twice->getKeyAtIndex(-1));
  EXPECT_EQ(nullptr, Tree("[1]")->getKeyAtIndex(0));
  twice->erase("a");  // now the first key
  EXPECT_EQ("{}", twice.text());
}

TEST(JSONData, IndexedSlots) {
  Tree tree("[0,1,2]");
  tree->setByIndex(3, number(3));
  tree->setByIndex(1, number(10));
  testing::CaptureOutput err(2);
  tree->setByIndex(5, number(5));  // freed: nobody else counts it
  EXPECT_EQ("JSONData::setByIndex(): index out of range\n", err.finish());
  tree->setByIndex(0, nullptr);
  tree->setByIndex(9, nullptr);  // out of range: nothing
  tree->erase(-1);
  EXPECT_EQ("[10,2]", tree.text());

  Tree empty("[]");
  empty->erase(-1);
  empty->erase(0);
  EXPECT_EQ("[]", empty.text());

  // Holders keep removed nodes alive.
  Tree nested("[[1],[2]]");
  JSONData* held = nested->getByIndex(1);
  JSONData::retain(held);
  nested->erase(1);
  nested->clear();
  EXPECT_EQ("[]", nested.text());
  EXPECT_EQ(2, held->getByIndex(0)->longValue());
  JSONData::release(held);

  JSONData* copy = nested->clone();
  EXPECT_EQ(0, copy->getRefCount());
  JSONData::retain(copy);
  JSONData::release(copy);
}

TEST(JSONData, ConversionsSaturate) {
  Tree tree("[-2.7, true, \"s\", 18446744073709551615.0, -18446744073709551615.0]");
  JSONData big;
  std::string got;
  for (long double value : {1e19L, 0x1p63L, -1e30L, static_cast<long double>(NAN)}) {
    big.setDouble(value);
    got += std::to_string(big.longValue()) + " ";
  }
  for (int i = 0; i < 5; ++i) {  // the parser's largest numbers at 3 and 4
    got += std::to_string(tree->getByIndex(i)->longValue()) + " ";
  }
  got += std::to_string(static_cast<double>(tree->getByIndex(1)->doubleValue())) + " " +
         std::to_string(static_cast<double>(tree->getByIndex(2)->doubleValue()));
  EXPECT_EQ(
      "9223372036854775807 9223372036854775807 -9223372036854775808 0 -2 1 0 9223372036854775807 "
      "-9223372036854775808 1.000000 0.000000",
      got);
  EXPECT_TRUE(big.booleanValue());
}

TEST(JSONData, ValuesFromInsideTheReplacedContent) {
  // A value bound into its own container's replacement survives.
  Tree tree(R"([{"inner":[1,2]}])");
  tree->setByIndex(0, tree->getByIndex(0)->getByKey("inner"));
  EXPECT_EQ("[[1,2]]", tree.text());
  tree->setByKey("k", tree->getByIndex(0));  // the array becomes an object
  EXPECT_EQ(R"({"k":[1,2]})", tree.text());

  Tree named(R"({"own key":1})");
  named->setString(*named->getKeyAtIndex(0));
  EXPECT_EQ(R"("own key")", named.text());

  // copy from a descendant of another type, and onto itself
  Tree nested(R"({"list":[1,{"x":"y"}]})");
  nested->copy(*nested->getByKey("list"));
  EXPECT_EQ(R"([1,{"x":"y"}])", nested.text());
  JSONData* before = nested->getByIndex(1);
  nested->copy(*nested.root);
  EXPECT_EQ(R"([1,{"x":"y"}])", nested.text());
  EXPECT_NE(before, nested->getByIndex(1));
}

TEST(JSONData, DeepTreesAreReleasedWithoutRecursion) {
  JSONData* root = new JSONData();
  JSONData::retain(root);
  JSONData* at = root;
  for (int depth = 0; depth < 1000000; ++depth) {
    JSONData* child = new JSONData();
    at->setByIndex(0, child);
    at = child;
  }
  JSONData::release(root);
}

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

// tests/data/json-parser.tsv: the text, whether it parses, the message
// after "JSONData::<operation>: " and the compact text of the node after.
TEST(JSONParser, BothFormsAgreeOnEveryCase) {
  const auto cases = testing::readTable(ORVEL_TEST_DATA "/json-parser.tsv");
  ASSERT_GE(cases.size(), 47u);
  for (const auto& each : cases) {
    ASSERT_EQ(4u, each.size()) << each[0];
    for (bool stream : {false, true}) {
      Parsed got = parse(each[0], stream);
      EXPECT_EQ(each[1] == "ok", got.ok) << each[0] << (stream ? " (stream)" : "");
      EXPECT_EQ(each[2], got.message) << each[0] << (stream ? " (stream)" : "");
      EXPECT_EQ(each[3], got.tree) << each[0] << (stream ? " (stream)" : "");
    }
  }
}

TEST(JSONParser, NumbersAndTheirTypes) {
  JSONData node;
  const char* text = "12 34";
  ASSERT_TRUE(node.setFromJsonString(text));
  EXPECT_EQ(JSONData::TYPE_LONG, node.getType());
  EXPECT_STREQ(" 34", text);  // the cursor stops right after the value
  const char* none = nullptr;
  EXPECT_FALSE(node.setFromJsonString(none));

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

TEST(JSONParser, DeepNestingFailsCleanly) {
  const std::string deep(1000000, '[');
  EXPECT_EQ("syntax error: array not closed\n", parse(deep, false).message);
  EXPECT_EQ("syntax error: array not closed\n", parse(deep, true).message);
  EXPECT_EQ("syntax error: object not closed\n",
            parse(std::string(JSONData::MAX_PARSE_DEPTH, '[') + "{", false).message);
  std::string objects;
  for (int depth = 0; depth <= JSONData::MAX_PARSE_DEPTH; ++depth) {
    objects += "{\"a\":";
  }
  EXPECT_FALSE(parse(objects + "1" + std::string(JSONData::MAX_PARSE_DEPTH + 1, '}'), false).ok);

  // Just inside the limit is fine.
  std::string inside(JSONData::MAX_PARSE_DEPTH, '[');
  inside += std::string(JSONData::MAX_PARSE_DEPTH, ']');
  EXPECT_TRUE(parse(inside, false).ok);
}

std::string text(const JSONData& node, bool pretty, int precision = 4, int level = 0) {
  std::string out;
  node.appendJsonString(out, pretty, precision, level);
  return out;
}

std::string number(long double value, int precision) {
  JSONData node;
  node.setDouble(value);
  std::string out;
  node.appendStringValue(out, precision);
  return out;
}

TEST(JSONWriter, CompactAndIndentedLayouts) {
  JSONData node;
  ASSERT_TRUE(node.setFromJsonStlString(R"({"a":[1,2],"b":{}})"));
  EXPECT_EQ(R"({"a":[1,2],"b":{}})", text(node, false));
  EXPECT_EQ("{\n \"a\": [\n  1,\n  2\n ],\n \"b\": {\n }\n}", text(node, true));
  EXPECT_EQ("{\n\"a\": [\n1,\n2\n],\n\"b\": {\n}\n}",
            text(node, true, 4, -5));  // negative levels indent as 0

  JSONData deep;
  ASSERT_TRUE(deep.setFromJsonStlString(std::string(60, '[') + "7" + std::string(60, ']')));
  std::string indented = text(deep, true);
  EXPECT_NE(std::string::npos, indented.find("\n" + std::string(50, ' ') + "7\n"));
  EXPECT_EQ(std::string::npos, indented.find(std::string(51, ' ')));

  // An empty container, and a member without a value, as they are.
  JSONData none;
  none.setByKey("a", new JSONData());
  JSONData empty;
  empty.setArray();
  EXPECT_EQ(R"({"a":} [
])",
            text(none, false) + " " + text(empty, true));

  std::string out = "kept";
  node.appendJsonString(out, false, 4, 0);
  EXPECT_EQ(0u, out.find("kept{"));
  node.toJsonString(out, false, 4);
  EXPECT_EQ(R"({"a":[1,2],"b":{}})", out);
}

TEST(JSONWriter, SevenEscapesAndNoOthers) {
  std::string out;
  JSONData::quoteJsonString(std::string("\t\"/\b\f\n\r\\\x01\xc8\x7f", 11), out);
  EXPECT_EQ(std::string("\"\\t\\\"/\\b\\f\\n\\r\\\\\x01\xc8\x7f\""), out);
}

TEST(JSONWriter, NumbersWholeAndTrimmed) {
  EXPECT_EQ("1 0.5 1234.5679 -2 -0 100 3.141593",
            number(1.0L, 4) + " " + number(0.5L, 4) + " " + number(1234.56789L, 4) + " " +
                number(-2.0L, 4) + " " + number(-0.00001L, 4) + " " + number(100.4L, 0) + " " +
                number(3.14159265L, -1));

  // Longer than any fixed buffer: never cut.
  // 64 characters exactly: one more than the first buffer holds.
  char sixtyFour[80];
  ASSERT_EQ(64, std::snprintf(sixtyFour, sizeof sixtyFour, "%.0Lf", 2e63L));
  EXPECT_EQ(sixtyFour, number(2e63L, 0));
  std::string huge = number(1e300L, 4);
  EXPECT_EQ(301u, huge.size());
  EXPECT_EQ("1", huge.substr(0, 1));
  // 2^-70 has 70 decimals, exact in every long double format.
  EXPECT_EQ("0.0000000000000000000008470329472543003390683225006796419620513916015625",
            number(std::ldexp(1.0L, -70), 200));

  JSONData smallest;
  smallest.setLong(LLONG_MIN);
  std::string out;
  smallest.appendStringValue(out, 4);
  EXPECT_EQ("-9223372036854775808", out);
}

}  // namespace
}  // namespace orvel
