#include <string>

#include <gtest/gtest.h>

#include "report/SpanReport.h"

namespace orvel {
namespace {

std::string errorOf(const std::string& text) {
  SpanReport report;
  std::string error;
  return readSpanReport(text, &report, &error) ? "" : error;
}

TEST(SpanReport, ReadsWhatSpanmillWrites) {
  // Raw control bytes and bytes that are not UTF-8 pass through spanmill's
  // writer; escapes and white space are read as JSON has them.
  SpanReport report;
  std::string error;
  ASSERT_TRUE(readSpanReport(
      "{\"sections\":[\"a\\\"b\",\"\x01\xff\",\"\\u00e9\\ud83d\\ude00\"],\"pc\":[[\"\",0],[\"x.c:"
      "1\",2]],"
      " \"threads\" : {\"42\":{\"trace\":[[0,5,0],[1.25e-1,-3,1]]},\"7\":{\"trace\":[]}}}\n",
      &report, &error))
      << error;
  EXPECT_EQ((std::vector<std::string>{"a\"b", "\x01\xff", "\xc3\xa9\xf0\x9f\x98\x80"}),
            report.sections);
  ASSERT_EQ(2u, report.pcs.size());
  EXPECT_EQ("x.c:1", report.pcs[1].location);
  EXPECT_EQ(2u, report.pcs[1].nameIndex);
  ASSERT_EQ(2u, report.threads.size());
  EXPECT_EQ("42", report.threads[0].tid);
  ASSERT_EQ(2u, report.threads[0].spans.size());
  EXPECT_EQ(0.125, report.threads[0].spans[1].start);
  EXPECT_EQ(-3, report.threads[0].spans[1].micros);
  EXPECT_EQ(1u, report.threads[0].spans[1].pc);
  EXPECT_TRUE(report.threads[1].spans.empty());

  ASSERT_TRUE(
      readSpanReport("{\"sections\":[\"\\/\\b\\f\\n\\r\\t\\\\\\ud800x\"],\"pc\":[],\"threads\":{}}",
                     &report, &error))
      << error;
  EXPECT_EQ("/\b\f\n\r\t\\\xef\xbf\xbdx", report.sections[0]);  // a lone surrogate replaced
}

TEST(SpanReport, SaysWhatIsWrong) {
  EXPECT_EQ("not JSON: expected '{' at byte 0", errorOf("nope"));
  EXPECT_EQ("not JSON: expected the end of a string at byte 15", errorOf("{\"sections\":[\"a"));
  EXPECT_EQ("missing \"threads\"", errorOf("{\"sections\":[],\"pc\":[]}"));
  EXPECT_EQ("\"pc\" before \"sections\"", errorOf("{\"pc\":[],\"sections\":[],\"threads\":{}}"));
  EXPECT_EQ("\"pc\" row 0 refers to section 1 of 1",
            errorOf("{\"sections\":[\"a\"],\"pc\":[[\"\",1]],\"threads\":{}}"));
  EXPECT_EQ("thread 3: span 1 refers to \"pc\" row 1 of 1",
            errorOf("{\"sections\":[\"a\"],\"pc\":[[\"\",0]],\"threads\":{\"3\":{\"trace\":"
                    "[[0,1,0],[0,1,1]]}}}"));
  EXPECT_EQ("thread 3: span 0 is not three numbers (start, microseconds, pc row) at byte 57",
            errorOf("{\"sections\":[\"a\"],\"pc\":[[\"\",0]],\"threads\":{\"3\":{\"trace\":"
                    "[[0,1]]}}}"));
  EXPECT_EQ("thread label \"main\" is not a thread id",
            errorOf("{\"sections\":[],\"pc\":[],\"threads\":{\"main\":{\"trace\":[]}}}"));
  EXPECT_EQ("thread 3 has no \"trace\"",
            errorOf("{\"sections\":[],\"pc\":[],\"threads\":{\"3\":{}}}"));
  EXPECT_EQ("not JSON: text after the report at byte 36",
            errorOf("{\"sections\":[],\"pc\":[],\"threads\":{}}x"));
  EXPECT_EQ("", errorOf("{\"sections\":[],\"other\":[1,{\"x\":null}],\"pc\":[],\"threads\":{}}"));
}

}  // namespace
}  // namespace orvel
