#include <gtest/gtest.h>

#include "thread/MetricRegistry.h"

namespace orvel {
namespace {

class FixedMetric : public Metric {
 public:
  double collect() override { return 42.0; }
};

// Counts the metrics it is shown, stopping at the first when asked to.
class Counter : public MetricRegistry::Visitor {
 public:
  explicit Counter(bool stopAtFirst) : stopAtFirst(stopAtFirst) {}
  bool visit(Metric* metric) override {
    ++calls;
    mine += metric->category == "Test" ? 1 : 0;
    return stopAtFirst;
  }
  const bool stopAtFirst;
  int calls = 0;
  int mine = 0;
};

TEST(MetricRegistry, ListsEachMetricOnceUntilRemoved) {
  MetricRegistry* registry = MetricRegistry::Instance();
  EXPECT_EQ(registry, MetricRegistry::Instance());
  FixedMetric first;
  FixedMetric second;
  first.category = second.category = "Test";
  registry->addMetric(&first);
  registry->addMetric(&first);
  registry->addMetric(&second);

  Counter all(false);
  registry->visit(all);
  EXPECT_EQ(2, all.mine);
  Counter one(true);
  registry->visit(one);
  EXPECT_EQ(1, one.calls);

  registry->removeMetric(&first);
  registry->removeMetric(&first);
  registry->removeMetric(&second);
  Counter none(false);
  registry->visit(none);
  EXPECT_EQ(0, none.mine);
}

}  // namespace
}  // namespace orvel
