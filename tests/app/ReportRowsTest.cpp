#include <cmath>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/ReportRows.h"
#include "json/JsomWriter.h"
#include "tests/thread/ThreadTesting.h"

namespace orvel {
namespace {

// Threads with spans made up from their position: every seventh open and
// every thirteenth with an infinite start, neither giving a row; some
// threads have only such spans, or none.
class Records {
 public:
  explicit Records(const std::vector<uint32_t>& counts) {
    uint32_t seed = 0;
    for (uint32_t count : counts) {
      ThreadSpans* spans =
          new (memory.slabs.take(sizeof(ThreadSpans))) ThreadSpans(1000 + threads.size());
      for (uint32_t position = 0; position < count; ++position, ++seed) {
        const double start = seed % 13 == 0 ? INFINITY : 100.0 + seed * 0.000173;
        if (seed % 7 == 0 || count == 9000) {
          spans->open(start, seed % 11, memory);
        } else {
          spans->addClosed(start, (seed % 997) * 0.000001, seed % 11, memory);
        }
      }
      threads.push_back(spans);
    }
  }

  // The members as the report's steps write them, one writer call at a time.
  std::string literal() const {
    std::ostringstream out;
    JsomWriter writer(&out);
    writer.startObject();
    for (const ThreadSpans* thread : threads) {
      writer.appendLabel(std::to_string(thread->id()).c_str(), true);
      writer.startObject();
      writer.appendLabel("trace", true);
      writer.startArray();
      thread->visitClosed(0, thread->size(), memory,
                          [&](double start, int64_t micros, uint32_t pc) {
                            if (std::isfinite(start - 100.0)) {
                              writer.startArray();
                              writer.appendDouble(start - 100.0, 6);
                              writer.appendLong(micros);
                              writer.appendLong(pc);
                              writer.endArray();
                            }
                            return true;
                          });
      writer.endArray();
      writer.endObject();
    }
    writer.endObject();
    return out.str();
  }

  // The members from ReportRows; shared tells whether a helper took part.
  std::string rows(bool* shared) const {
    std::ostringstream out;
    JsomWriter writer(&out);
    writer.startObject();
    ReportRows rows(threads.data(), threads.size(), memory, 1.0, -100.0);
    *shared = rows.shared();
    rows.write(writer);
    writer.endObject();
    return out.str();
  }

 private:
  SpanMemory memory;
  std::vector<ThreadSpans*> threads;
};

// Segments end inside threads and where threads meet, after rows and after
// spans that give none; with a helper or without, the text is what the
// report's steps write.
TEST(ReportRows, SegmentsJoinIntoTheLiteralTextWithOrWithoutAHelper) {
  const bool twoProcessors = std::thread::hardware_concurrency() >= 2;
  const uint32_t segment = ReportRows::kSegmentSpans;
  for (const std::vector<uint32_t>& counts :
       std::vector<std::vector<uint32_t>>{{150000, 1, 0, 120000, 37},
                                          {0, 3, segment - 3, 9000, segment + 1, 250000},
                                          std::vector<uint32_t>(210000, 1),
                                          {5, 0, 0}}) {
    Records records(counts);
    const std::string literal = records.literal();
    bool shared = false;
    EXPECT_EQ(literal, records.rows(&shared)) << counts.size() << " threads";
    EXPECT_EQ(twoProcessors && counts.size() > 3, shared);
    testing::FailThreadCreation fail;
    EXPECT_EQ(literal, records.rows(&shared));
    EXPECT_FALSE(shared);
  }
}

}  // namespace
}  // namespace orvel
