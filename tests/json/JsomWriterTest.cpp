#include <climits>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JsomWriter.h"
#include "tests/Testing.h"

namespace orvel {
namespace {

// Each case gets a fresh writer on a string stream and sees what went to
// std::cerr.
class JsomWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { savedErr = std::cerr.rdbuf(err.rdbuf()); }
  void TearDown() override { std::cerr.rdbuf(savedErr); }

  std::string taken(std::ostringstream& stream) {
    std::string text = stream.str();
    stream.str("");
    return text;
  }
  std::string number(long double value, int precision) {
    std::ostringstream text;
    JsomWriter(&text).appendDouble(value, precision);
    return text.str();
  }

  std::ostringstream out;
  std::ostringstream err;
  std::streambuf* savedErr = nullptr;
  JsomWriter writer{&out};
};

TEST_F(JsomWriterTest, CompactAndPrettyLayouts) {
  for (bool pretty : {false, true}) {
    writer.setPretty(pretty);
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
  EXPECT_EQ(R"({"a":[1,2],"b":{}})"
            "{\n \"a\": [\n  1,\n  2\n ],\n \"b\": {\n }\n}",
            taken(out));
  // Indentation stops at 47 spaces.
  for (int depth = 1; depth <= 50; ++depth) {
    writer.startArray();
  }
  writer.appendInt(7);
  const std::string text = taken(out);
  EXPECT_NE(std::string::npos,
            text.find("\n" + std::string(45, ' ') + "[\n" + std::string(46, ' ') + "[\n" +
                      std::string(47, ' ') + "[\n" + std::string(47, ' ') + "["));
  EXPECT_EQ("\n" + std::string(47, ' ') + "7", text.substr(text.size() - 49));
  EXPECT_EQ("", err.str());
}

TEST_F(JsomWriterTest, StringsLabelsAndIntegers) {
  // Exactly seven bytes are escaped; every other byte passes as it is.
  std::string plain;
  for (int byte = 0; byte < 256; ++byte) {
    if (std::string("\"\\\b\t\n\f\r").find(static_cast<char>(byte)) == std::string::npos) {
      plain.push_back(static_cast<char>(byte));
    }
  }
  ASSERT_EQ(249u, plain.size());
  writer.startArray();
  writer.appendString(std::string("\"\\\b\t\n\f\r"), false);
  writer.appendString(plain, false);
  writer.appendString(std::string("a\"\\\t\x01/"), true);
  writer.appendString("abcdef", 3, false);
  writer.appendString("abc", 0, false);
  writer.appendString("abc", -2, false);
  writer.appendString(nullptr, 4, false);
  writer.appendJsonValue("{\"raw\":1}", 9);
  writer.appendInt(INT_MIN);
  writer.appendUnsignedInt(UINT_MAX);
  writer.appendLong(LLONG_MIN);
  writer.appendUnsignedLong(ULLONG_MAX);
  writer.endArray();
  EXPECT_EQ(R"(["\"\\\b\t\n\f\r",")" + plain +
                "\",\"a\"\\\t\x01/\",\"abc\",\"\",\"\",null,{\"raw\":1},"
                "-2147483648,4294967295,-9223372036854775808,18446744073709551615]",
            taken(out));

  writer.startObject();
  writer.appendLabel("key\"", false);
  writer.appendBoolean(true);
  writer.appendLabel("key\"", 3, true);
  writer.appendBoolean(false);
  writer.appendLabel(nullptr, false);
  writer.appendNull();
  writer.endObject();
  writer.appendInt(1);  // top-level values run together
  EXPECT_EQ(R"({"key\"":true,"key":false,null:null}1)", taken(out));
}

// tests/data/jsom-doubles.tsv: a value (as strtold reads it), a precision
// and the text appendDouble writes.
TEST_F(JsomWriterTest, DoublesTrimmedFixedPointAndExponentsBeyond1e16) {
  const auto cases = testing::readTable(ORVEL_TEST_DATA "/jsom-doubles.tsv");
  ASSERT_GE(cases.size(), 17u);
  for (const auto& each : cases) {
    EXPECT_EQ(each.at(2), number(std::strtold(each[0].c_str(), nullptr), std::stoi(each[1])))
        << each[0] << " at " << each[1];
  }
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
    length -= buffer[length - 1] == '.' ? 1 : 0;
    return std::string(buffer, static_cast<size_t>(length));
  };
  // Just above 12.5e-9, whose ninth digit rounds up on a bit far below.
  std::vector<double> values = {0.0,    -0.0,     0.0078125,      0.0234375,
                                2.5e-7, 4.9e-324, 1e-300,         0.5,
                                1.5,    2.5,      1e16,           9.2e12,
                                9.3e12, 9.2e18,   123456.7890125, std::nextafter(1.25e-8, 1.0)};
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
      for (int precision = 1; precision <= 9 && std::fabs(signed_) <= 1e16; ++precision) {
        const std::string expected = printfDigits(signed_, precision);
        ASSERT_EQ(expected, number(signed_, precision)) << signed_ << " at " << precision;
        char text[JsomWriter::kDoubleTextSize];
        ASSERT_EQ(expected, std::string(text, JsomWriter::formatDouble(signed_, precision, text)))
            << signed_ << " as a double at " << precision;
      }
    }
  }
}

// A call out of place writes nothing and says so on one line.
TEST_F(JsomWriterTest, CallsOutOfPlaceAreRefused) {
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
      {"appendJsonValue", [&] { writer.appendJsonValue("1", 1); }}};
  writer.startObject();
  for (const auto& [name, call] : values) {
    call();
    EXPECT_EQ(std::string("ERROR: JsonWriter::") + name + "() Invalid sequence. state: {\n",
              taken(err));
  }
  writer.appendLabel("a", true);
  writer.appendInt(1);
  writer.appendInt(2);
  EXPECT_EQ("ERROR: JsonWriter::appendInt() Invalid sequence. state: }\n", taken(err));
  writer.endObject();
  EXPECT_EQ(R"({"a":1})", taken(out));

  const std::string top = std::string(" state: ") + '\0' + "\n";
  writer.appendLabel("top", true);
  writer.endObject();
  writer.endArray();
  EXPECT_EQ("ERROR: JsonWriter::appendLabel() No current object on stack." + top +
                "ERROR: JsonWriter::endObject() No current object on stack." + top +
                "ERROR: JsonWriter::endArray() No current array on stack." + top,
            taken(err));
  writer.startArray();
  writer.appendLabel("in array", true);
  writer.endObject();
  writer.appendInt(5);
  writer.endArray();
  EXPECT_EQ(
      "ERROR: JsonWriter::appendLabel() No current object on stack. state: [\n"
      "ERROR: JsonWriter::endObject() No current object on stack. state: [\n",
      taken(err));
  EXPECT_EQ("[5]", taken(out));

  // end() completes a waiting label and closes everything open.
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
      taken(err));
  writer.end();
  EXPECT_EQ(R"({"list":[{"waiting":null}]})", taken(out));
  writer.end();
  writer.startArray();  // accepted again after the document ended
  writer.endArray();
  EXPECT_EQ("[]", taken(out));
}

}  // namespace
}  // namespace orvel
