#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "json/JSOM.h"
#include "report/ChromeTrace.h"

namespace orvel {
namespace {

std::string exported(const std::vector<SpanReport>& reports) {
  std::ostringstream out;
  writeChromeTrace(reports, out);
  return out.str();
}

SpanReport report(const std::string& name, const std::string& tid) {
  SpanReport r;
  r.name = name;
  r.sections = {"draw", ""};
  r.pcs = {{"", 0}, {"ui.c:7", 1}};
  r.threads = {{tid, {{0.000219, 82, 0}, {1.5, 1000, 1}, {2.0, -40, 1}}}};
  return r;
}

// Every string is strict JSON and valid UTF-8: no raw control byte, no
// byte that starts no sequence.
void expectStrict(const std::string& text) {
  for (size_t at = 0; at < text.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    EXPECT_TRUE(c >= 0x20 || c == '\n') << "byte " << at;
    if (c >= 0x80) {
      const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : 2;
      EXPECT_TRUE(c >= 0xC2 && c < 0xF5) << "byte " << at;
      for (size_t i = 1; i < length; ++i) {
        EXPECT_EQ(0x80, static_cast<unsigned char>(text[at + i]) & 0xC0) << "byte " << at + i;
      }
      at += length - 1;
    }
  }
}

TEST(ChromeTrace, EventsFieldByField) {
  const std::string text = exported({report("a.json", "42"), report("b.json", "7")});
  expectStrict(text);
  JSOM doc;
  doc.fromString(text);
  JSOM events = doc["traceEvents"];
  ASSERT_EQ(10, events.size());  // per report: process, thread, three spans
  EXPECT_EQ("process_name", events[0]["name"].stringValue(""));
  EXPECT_EQ("M", events[0]["ph"].stringValue(""));
  EXPECT_EQ(1, events[0]["pid"].longValue(0));
  EXPECT_EQ("a.json", events[0]["args"]["name"].stringValue(""));
  EXPECT_EQ("thread_name", events[1]["name"].stringValue(""));
  EXPECT_EQ(42, events[1]["tid"].longValue(0));
  EXPECT_EQ("tid 42", events[1]["args"]["name"].stringValue(""));
  JSOM span = events[2];
  EXPECT_EQ("draw", span["name"].stringValue(""));
  EXPECT_EQ("X", span["ph"].stringValue(""));
  EXPECT_EQ("span", span["cat"].stringValue(""));
  EXPECT_EQ(219, span["ts"].doubleValue(0));
  EXPECT_EQ(82, span["dur"].longValue(0));
  EXPECT_EQ(1, span["pid"].longValue(0));
  EXPECT_EQ(42, span["tid"].longValue(0));
  EXPECT_FALSE(span["args"].isObject());
  // An empty name gets a visible one; a location goes to the arguments.
  EXPECT_EQ(kUnnamedSpan, events[3]["name"].stringValue(""));
  EXPECT_EQ(1500000, events[3]["ts"].doubleValue(0));
  EXPECT_EQ("ui.c:7", events[3]["args"]["location"].stringValue(""));
  // No viewer takes a negative duration: zero, and the reported one kept.
  EXPECT_EQ(0, events[4]["dur"].longValue(-1));
  EXPECT_EQ(-40, events[4]["args"]["duration_us"].longValue(0));
  EXPECT_EQ("ui.c:7", events[4]["args"]["location"].stringValue(""));
  // The second report is the second process.
  EXPECT_EQ("b.json", events[5]["args"]["name"].stringValue(""));
  EXPECT_EQ(2, events[7]["pid"].longValue(0));
  EXPECT_EQ(7, events[7]["tid"].longValue(0));
  EXPECT_EQ("ms", doc["displayTimeUnit"].stringValue(""));
}

TEST(ChromeTrace, ControlBytesAndBrokenUtf8BecomeStrictJson) {
  SpanReport r = report("\x01.json", "1");
  // A control byte, a lone continuation byte, an overlong slash, a
  // surrogate, a truncated sequence, and valid two- and four-byte ones.
  r.sections[0] = std::string("a\x01\x80\xc0\xaf\xed\xa0\x80\xc3\xa9\xf0\x9f\x98\x80\xe2\x82", 16);
  const std::string text = exported({r});
  expectStrict(text);
  EXPECT_NE(std::string::npos, text.find("\"\\u0001.json\""));
  const std::string fffd = "\xef\xbf\xbd";
  EXPECT_NE(std::string::npos, text.find("\"a\\u0001" + fffd + fffd + fffd + fffd + fffd + fffd +
                                         "\xc3\xa9\xf0\x9f\x98\x80" + fffd + fffd + "\""));
}

}  // namespace
}  // namespace orvel
