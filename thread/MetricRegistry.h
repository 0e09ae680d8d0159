// Named values that can be sampled at any time, and the process-wide list
// of them.
#ifndef ORVEL_THREAD_METRICREGISTRY_H
#define ORVEL_THREAD_METRICREGISTRY_H

#include <set>
#include <string>

#include "thread/Lock.h"

namespace orvel {

class Metric {
 public:
  virtual ~Metric() = default;
  // The current value; safe from any thread.
  virtual double collect() = 0;

  std::string category;     // the kind of component, e.g. "Thread Group"
  std::string instance;     // which component
  std::string name;         // the metric's own name
  std::string description;  // one line on what the value counts
};

// Lists metrics; never owns, creates or deletes them. A metric must be
// removed before it is destroyed. All operations are safe from any thread.
class MetricRegistry {
 public:
  class Visitor {
   public:
    virtual ~Visitor() = default;
    // Returns true to stop the walk. Must not add or remove metrics: the
    // registry is locked.
    virtual bool visit(Metric* metric) = 0;
  };

  // The registry, created on first use and never destroyed.
  static MetricRegistry* Instance();

  MetricRegistry();
  MetricRegistry(const MetricRegistry&) = delete;
  MetricRegistry& operator=(const MetricRegistry&) = delete;
  virtual ~MetricRegistry() = default;

  // A metric already present stays once.
  void addMetric(Metric* metric);
  // A metric not present is ignored.
  void removeMetric(Metric* metric);
  // Calls visitor for each metric in ascending address order until it
  // returns true.
  void visit(Visitor& visitor) const;

 private:
  std::set<Metric*> metrics;  // not owned
  mutable Lock lock;          // guards metrics
};

}  // namespace orvel

#endif  // ORVEL_THREAD_METRICREGISTRY_H
