#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/ReportRows.h"
#include "app/Slabs.h"
#include "json/JsomWriter.h"
#include "tests/thread/ThreadTesting.h"

namespace orvel {
namespace {

using TidEntries = FunctionTraceProcessorBase::TidEntries;
using TidInfo = FunctionTraceProcessorBase::TidInfo;

// Thread records with spans made up from their position: every seventh
// span open, every thirteenth with an infinite start (no row either).
class Records {
 public:
  explicit Records(const std::vector<uint32_t>& counts) {
    uint32_t seed = 0;
    for (uint32_t count : counts) {
      TidInfo* info = new TidInfo();
      for (uint32_t position = 0; position < count; ++position, ++seed) {
        const uint32_t place = position % TidEntries::kSize;
        if (place == 0) {
          info->chunks.push_back(static_cast<TidEntries*>(slabs.take(sizeof(TidEntries))));
        }
        TidEntries* chunk = info->chunks.back();
        chunk->start[place] = seed % 13 == 0 ? 1.0 / 0.0 : 100.0 + seed * 0.000173;
        chunk->duration[place] = (seed % 997) * 0.000001;
        chunk->pcIndex[place] = (seed % 11) | (seed % 7 == 0 ? TidEntries::kOpen : 0);
        ++info->count;
      }
      threads.push_back(info);
    }
  }
  ~Records() {
    for (TidInfo* info : threads) {
      delete info;
    }
  }

  // Each thread's rows as an array, in one array; shared tells whether a
  // helper thread formatted part of them.
  std::string rows(bool* shared) const {
    std::ostringstream out;
    JsomWriter writer(&out);
    writer.startArray();
    ReportRows rows(threads, 1.0, -100.0);
    *shared = rows.shared();
    for (size_t i = 0; i < threads.size(); ++i) {
      writer.startArray();
      rows.write(i, writer);
      writer.endArray();
    }
    writer.endArray();
    writer.flush();
    return out.str();
  }

 private:
  Slabs slabs;
  std::vector<TidInfo*> threads;
};

// The helper takes the rows from the middle of the report on, wherever the
// middle falls: inside a thread, or where one thread ends and the next
// begins. Its rows come out as the reading thread alone would write them.
TEST(ReportRows, AHelperFormatsTheSameBytesAsTheReadingThreadAlone) {
  const bool twoProcessors = std::thread::hardware_concurrency() >= 2;
  for (const std::vector<uint32_t>& counts : std::vector<std::vector<uint32_t>>{
           {150000, 1, 0, 120000, 37}, {100000, 100000}, {3, 250000}}) {
    Records records(counts);
    bool shared = false;
    const std::string both = records.rows(&shared);
    EXPECT_EQ(twoProcessors, shared);
    std::string alone;
    {
      testing::FailThreadCreation fail;
      alone = records.rows(&shared);
      EXPECT_FALSE(shared);
    }
    EXPECT_EQ(alone, both) << "threads: " << counts.size();
    EXPECT_EQ("[[[0.000173,1,1],", alone.substr(0, 17));
  }
}

TEST(ReportRows, SmallReportsAreNotShared) {
  Records records({ReportRows::kSharedSpans / 2, ReportRows::kSharedSpans / 2 - 1});
  bool shared = true;
  records.rows(&shared);
  EXPECT_FALSE(shared);
}

}  // namespace
}  // namespace orvel
