#include <climits>
#include <cmath>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "json/JSONData.h"

namespace orvel {
namespace {

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

  JSONData empty;
  empty.setArray();
  EXPECT_EQ("[\n]", text(empty, true));

  JSONData deep;
  ASSERT_TRUE(deep.setFromJsonStlString(std::string(60, '[') + "7" + std::string(60, ']')));
  std::string indented = text(deep, true);
  EXPECT_NE(std::string::npos, indented.find("\n" + std::string(50, ' ') + "7\n"));
  EXPECT_EQ(std::string::npos, indented.find(std::string(51, ' ')));

  JSONData none;
  none.setByKey("a", new JSONData());
  EXPECT_EQ(R"({"a":})", text(none, false));

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
  EXPECT_EQ("1", number(1.0L, 4));
  EXPECT_EQ("0.5", number(0.5L, 4));
  EXPECT_EQ("1234.5679", number(1234.56789L, 4));
  EXPECT_EQ("-2", number(-2.0L, 4));
  EXPECT_EQ("-0", number(-0.00001L, 4));
  EXPECT_EQ("100", number(100.0L, 0));
  EXPECT_EQ("3.141593", number(3.14159265L, -1));

  // Longer than any fixed buffer: never cut.
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

// Takes at most a few bytes, then fails.
class ShortBuffer : public std::streambuf {
 public:
  explicit ShortBuffer(size_t room) : room(room) {}
  std::string written;

 protected:
  int overflow(int c) override {
    if (c == traits_type::eof() || written.size() >= room) {
      return traits_type::eof();
    }
    written.push_back(static_cast<char>(c));
    return c;
  }

 private:
  const size_t room;
};

TEST(JSONWriter, StreamsStopWhenTheyFail) {
  JSONData node;
  ASSERT_TRUE(node.setFromJsonStlString(R"({"a":[1.25,"x"],"b":null})"));
  std::ostringstream out;
  out.precision(1);
  node.appendStream(out);
  EXPECT_EQ(R"({"a":[1.2,"x"],"b":null})", out.str());

  std::ostringstream failed;
  failed.setstate(std::ios::failbit);
  node.appendStream(failed);
  EXPECT_EQ("", failed.str());

  ShortBuffer room(8);
  std::ostream limited(&room);
  node.appendStream(limited);
  EXPECT_EQ(R"({"a":[1.)", room.written);
}

// A random tree of every type, with doubles that print exactly.
JSONData* randomTree(std::mt19937& random, int depth) {
  JSONData* node = new JSONData();
  int kind = depth > 3 ? static_cast<int>(random() % 5) : static_cast<int>(random() % 7);
  switch (kind) {
    case 0:
      node->setNull();
      break;
    case 1:
      node->setBoolean(random() % 2 == 0);
      break;
    case 2:
      node->setLong(static_cast<long long>(random()) - (1LL << 31));
      break;
    case 3:
      node->setDouble(static_cast<long double>(random() % 100000) + 0.125L);
      break;
    case 4: {
      std::string s;
      for (unsigned i = random() % 8; i > 0; --i) {
        s.push_back(static_cast<char>(1 + random() % 255));
      }
      node->setString(s);
      break;
    }
    case 5:
      node->setArray();
      for (unsigned i = random() % 4; i > 0; --i) {
        node->setByIndex(node->length(), randomTree(random, depth + 1));
      }
      break;
    default:
      node->setObject();
      for (unsigned i = random() % 4; i > 0; --i) {
        node->setByKey("k" + std::to_string(random() % 5), randomTree(random, depth + 1));
      }
      break;
  }
  return node;
}

TEST(JSONWriter, RandomTreesSurviveARoundTrip) {
  std::mt19937 random(20261206);
  for (int round = 0; round < 300; ++round) {
    JSONData* tree = randomTree(random, 0);
    JSONData::retain(tree);
    std::string first;
    tree->toJsonString(first, false, 4);
    JSONData back;
    ASSERT_TRUE(back.setFromJsonStlString(first)) << first;
    std::string second;
    back.toJsonString(second, false, 4);
    EXPECT_EQ(first, second);
    std::string pretty;
    tree->toJsonString(pretty, true, 4);
    JSONData fromPretty;
    ASSERT_TRUE(fromPretty.setFromJsonStlString(pretty));
    fromPretty.toJsonString(second, false, 4);
    EXPECT_EQ(first, second);
    JSONData::release(tree);
  }
}

}  // namespace
}  // namespace orvel
