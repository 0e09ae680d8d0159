#include <climits>
#include <cmath>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JsomWriter.h"

namespace orvel {
namespace {

// Each case gets a fresh writer on a string stream and sees what went to
// std::cerr.
class JsomWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { savedErr = std::cerr.rdbuf(err.rdbuf()); }
  void TearDown() override { std::cerr.rdbuf(savedErr); }

  std::string written() const { return out.str(); }
  std::string errors() const { return err.str(); }

  // Writes the small document {"a":[1,2],"b":{}}.
  void writeSample() {
    writer.startObject();
    writer.appendLabel("a", true);
    writer.startArray();
    writer.appendInt(1);
    writer.appendInt(2);
    writer.endArray();
    writer.appendLabel("b", true);
    writer.startObject();
    writer.endObject();
    writer.endObject();
  }

  std::string number(long double value, int precision) {
    std::ostringstream text;
    JsomWriter numberWriter(&text);
    numberWriter.appendDouble(value, precision);
    return text.str();
  }

  std::ostringstream out;
  std::ostringstream err;
  std::streambuf* savedErr = nullptr;
  JsomWriter writer{&out};
};

TEST_F(JsomWriterTest, CompactDocument) {
  writeSample();
  EXPECT_EQ(R"({"a":[1,2],"b":{}})", written());
  EXPECT_EQ("", errors());
}

TEST_F(JsomWriterTest, PrettyDocument) {
  writer.setPretty(true);
  writeSample();
  EXPECT_EQ("{\n \"a\": [\n  1,\n  2\n ],\n \"b\": {\n }\n}", written());
}

TEST_F(JsomWriterTest, PrettyIndentationStopsAt47Spaces) {
  writer.setPretty(true);
  for (int depth = 1; depth <= 50; ++depth) {
    writer.startArray();
  }
  writer.appendInt(7);
  std::string text = written();
  // Depth 46: 46 spaces before the 47th "[", 47 from depth 47 on.
  EXPECT_NE(std::string::npos,
            text.find("\n" + std::string(45, ' ') + "[\n" + std::string(46, ' ') + "[\n" +
                      std::string(47, ' ') + "[\n" + std::string(47, ' ') + "["));
  EXPECT_EQ("\n" + std::string(47, ' ') + "7", text.substr(text.size() - 49));
}

TEST_F(JsomWriterTest, EscapesExactlyTheSevenSpecialBytes) {
  writer.startArray();
  writer.appendString(std::string("\"\\\b\t\n\f\r"), false);
  EXPECT_EQ(R"(["\"\\\b\t\n\f\r")", written());

  std::string plain;
  for (int byte = 0; byte < 256; ++byte) {
    if (std::string("\"\\\b\t\n\f\r").find(static_cast<char>(byte)) == std::string::npos) {
      plain.push_back(static_cast<char>(byte));
    }
  }
  ASSERT_EQ(249u, plain.size());  // NUL, the other controls, '/', 0x7F and up
  out.str("");
  writer.appendString(plain, false);
  EXPECT_EQ(",\"" + plain + "\"", written());
}

TEST_F(JsomWriterTest, VerbatimLengthAndNullTexts) {
  writer.startArray();
  writer.appendString(std::string("a\"\\\t\x01/"), true);
  writer.appendString("abcdef", 3, false);
  writer.appendString("abc", 0, false);
  writer.appendString("abc", -2, false);
  writer.appendString(nullptr, 4, false);
  writer.appendJsonValue("{\"raw\":1}", 9);
  writer.endArray();
  EXPECT_EQ("[\"a\"\\\t\x01/\",\"abc\",\"\",\"\",null,{\"raw\":1}]", written());

  out.str("");
  writer.startObject();
  writer.appendLabel("key\"", false);
  writer.appendBoolean(true);
  writer.appendLabel("key\"", 3, true);
  writer.appendBoolean(false);
  writer.appendLabel(nullptr, false);
  writer.appendNull();
  writer.endObject();
  EXPECT_EQ(R"({"key\"":true,"key":false,null:null})", written());
}

TEST_F(JsomWriterTest, Integers) {
  writer.startArray();
  writer.appendInt(INT_MIN);
  writer.appendUnsignedInt(UINT_MAX);
  writer.appendLong(LLONG_MIN);
  writer.appendUnsignedLong(ULLONG_MAX);
  writer.endArray();
  EXPECT_EQ("[-2147483648,4294967295,-9223372036854775808,18446744073709551615]", written());

  out.str("");
  writer.appendInt(1);
  writer.appendInt(2);  // top-level values run together
  EXPECT_EQ("12", written());
}

TEST_F(JsomWriterTest, DoublesTrimmedFixedPointAndExponentsBeyond1e16) {
  EXPECT_EQ("1.5", number(1.5, 6));
  EXPECT_EQ("2", number(2, 6));
  EXPECT_EQ("100", number(100, 6));
  EXPECT_EQ("0", number(0, 6));
  EXPECT_EQ("0.123457", number(0.1234567, 6));
  EXPECT_EQ("-0", number(-0.0000001, 6));
  EXPECT_EQ("12345.000001", number(12345.000001L, 6));
  EXPECT_EQ("10000000000000000", number(1e16L, 6));
  EXPECT_EQ("-10000000000000000", number(-1e16L, 6));
  EXPECT_EQ("-2.000000e+16", number(-2e16L, 6));
  EXPECT_EQ("2.000000e+16", number(2e16L, 0));
  EXPECT_EQ("2.000000", number(2, 0));
  EXPECT_EQ("0.5", number(0.5, 1));
  EXPECT_EQ("3", number(2.96, 1));
  EXPECT_EQ("nan", number(std::numeric_limits<long double>::quiet_NaN(), 6));
  EXPECT_EQ("inf", number(std::numeric_limits<long double>::infinity(), 6));
  EXPECT_EQ("-inf", number(-std::numeric_limits<long double>::infinity(), 6));
}

// Fixed-point digits are computed without printf where they can be; they
// must be printf's exactly, rounding of exact ties included.
TEST_F(JsomWriterTest, FixedPointDigitsAreThoseOfPrintf) {
  auto printfDigits = [](long double value, int precision) {
    char buffer[512];
    int length = std::snprintf(buffer, sizeof buffer, "%.*Lf", precision, value);
    while (buffer[length - 1] == '0') {
      --length;
    }
    if (buffer[length - 1] == '.') {
      --length;
    }
    return std::string(buffer, static_cast<size_t>(length));
  };
  std::vector<double> values = {0.0,      -0.0,   0.0078125, 0.0234375, 2.5e-7,
                                4.9e-324, 1e-300, 0.5,       1.5,       2.5,
                                1e16,     9.2e12, 9.3e12,    9.2e18,    123456.7890125};
  for (int odd = 1; odd < 4000; odd += 2) {
    values.push_back(std::ldexp(static_cast<double>(odd), -7));   // ties at 6 digits
    values.push_back(std::ldexp(static_cast<double>(odd), -20));  // and at more
  }
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    values.push_back(
        std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 100)));
  }
  for (double value : values) {
    for (double signed_ : {value, -value}) {
      for (int precision = 1; precision <= 9; ++precision) {
        if (std::fabs(signed_) <= 1e16) {
          const std::string expected = printfDigits(signed_, precision);
          ASSERT_EQ(expected, number(signed_, precision)) << signed_ << " at " << precision;
          char text[JsomWriter::kDoubleTextSize];
          ASSERT_EQ(expected, std::string(text, JsomWriter::formatDouble(signed_, precision, text)))
              << signed_ << " as a double at " << precision;
        }
      }
    }
  }
}

TEST_F(JsomWriterTest, ValueWhereALabelIsDueIsRefused) {
  const std::pair<const char*, std::function<void()>> values[] = {
      {"startObject", [&] { writer.startObject(); }},
      {"startArray", [&] { writer.startArray(); }},
      {"appendString", [&] { writer.appendString(std::string("s"), false); }},
      {"appendString", [&] { writer.appendString("s", 1, false); }},
      {"appendInt", [&] { writer.appendInt(1); }},
      {"appendUnsignedInt", [&] { writer.appendUnsignedInt(1); }},
      {"appendLong", [&] { writer.appendLong(1); }},
      {"appendUnsignedLong", [&] { writer.appendUnsignedLong(1); }},
      {"appendDouble", [&] { writer.appendDouble(1, 6); }},
      {"appendBoolean", [&] { writer.appendBoolean(true); }},
      {"appendNull", [&] { writer.appendNull(); }},
      {"appendJsonValue", [&] { writer.appendJsonValue("1", 1); }},
  };
  writer.startObject();
  for (const auto& [name, call] : values) {
    err.str("");
    call();
    EXPECT_EQ(std::string("ERROR: JsonWriter::") + name + "() Invalid sequence. state: {\n",
              errors());
  }
  writer.appendLabel("a", true);
  writer.appendInt(1);
  err.str("");
  writer.appendInt(2);
  EXPECT_EQ("ERROR: JsonWriter::appendInt() Invalid sequence. state: }\n", errors());
  writer.endObject();
  EXPECT_EQ(R"({"a":1})", written());
}

TEST_F(JsomWriterTest, LabelsAndClosingsOutOfPlaceAreRefused) {
  writer.appendLabel("top", true);
  EXPECT_EQ(std::string("ERROR: JsonWriter::appendLabel() No current object on stack. state: ") +
                '\0' + "\n",
            errors());
  err.str("");
  writer.endObject();
  writer.endArray();
  EXPECT_EQ(std::string("ERROR: JsonWriter::endObject() No current object on stack. state: ") +
                '\0' + "\n" +
                "ERROR: JsonWriter::endArray() No current array on stack. state: " + '\0' + "\n",
            errors());

  err.str("");
  writer.startArray();
  writer.appendLabel("in array", true);
  writer.endObject();
  writer.appendInt(5);
  writer.endArray();
  EXPECT_EQ(
      "ERROR: JsonWriter::appendLabel() No current object on stack. state: [\n"
      "ERROR: JsonWriter::endObject() No current object on stack. state: [\n",
      errors());
  EXPECT_EQ("[5]", written());
}

TEST_F(JsomWriterTest, EndCompletesAWaitingLabelAndEverythingOpen) {
  writer.startObject();
  writer.appendLabel("list", true);
  writer.startArray();
  writer.startObject();
  writer.appendLabel("waiting", true);
  writer.endObject();
  writer.endArray();
  EXPECT_EQ(
      "ERROR: JsonWriter::endObject() No current object on stack. state: :\n"
      "ERROR: JsonWriter::endArray() No current array on stack. state: :\n",
      errors());
  writer.end();
  EXPECT_EQ(R"({"list":[{"waiting":null}]})", written());

  out.str("");
  writer.end();
  EXPECT_EQ("", written());
  writer.startArray();  // accepted again after the document ended
  writer.endArray();
  EXPECT_EQ("[]", written());
}

}  // namespace
}  // namespace orvel
