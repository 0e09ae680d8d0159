#include "thread/MetricRegistry.h"

#include "log/Logger.h"

namespace orvel {

MetricRegistry* MetricRegistry::Instance() {
  static MetricRegistry* const instance = new MetricRegistry();
  return instance;
}

MetricRegistry::MetricRegistry() {
  // The registry has its own logging category, though nothing logs to it yet.
  static Logger* const logger = Logger::getLogger("MetricRegistry");
  (void)logger;
}

void MetricRegistry::addMetric(Metric* metric) {
  Synchronized hold(lock);
  metrics.insert(metric);
}

void MetricRegistry::removeMetric(Metric* metric) {
  Synchronized hold(lock);
  metrics.erase(metric);
}

void MetricRegistry::visit(Visitor& visitor) const {
  Synchronized hold(lock);
  for (Metric* metric : metrics) {
    if (visitor.visit(metric)) {
      return;
    }
  }
}

}  // namespace orvel
