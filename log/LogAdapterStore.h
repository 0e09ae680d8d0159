// Log adapter factories registered by type name, and the process-wide
// store of them that logger configuration creates adapters from.
#ifndef ORVEL_LOG_LOGADAPTERSTORE_H
#define ORVEL_LOG_LOGADAPTERSTORE_H

#include <string>
#include <vector>

namespace orvel {

class JSOM;
class LogAdapter;

// Names and values side by side, searched from the last entry to the
// first. Does not delete what its values point to.
template <class T>
class VectorMap {
 public:
  virtual ~VectorMap() = default;

  // Index of the last entry whose key equals key byte for byte, or -1.
  int find(const std::string& key) const {
    for (size_t i = keys.size(); i-- > 0;) {
      if (keys[i] == key) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

 protected:
  std::vector<std::string> keys;
  std::vector<T*> values;  // values[i] belongs to keys[i]
};

class LogAdapterFactory {
 public:
  virtual ~LogAdapterFactory() = default;
  // A new adapter made from its configuration object, owned by the
  // caller, or null.
  virtual LogAdapter* create(const JSOM& config) = 0;
};

// Registration belongs to start-up: nothing here locks.
class LogAdapterStore : public VectorMap<LogAdapterFactory> {
 public:
  // Created on first use and never destroyed by the system.
  static LogAdapterStore* Instance();

  // Registers factory under name, taking ownership; a different factory
  // registered before under that name is deleted.
  static void addFactory(const std::string& name, LogAdapterFactory* factory);
  // The adapter made by the factory registered under type, or null.
  static LogAdapter* createLogAdapter(const std::string& type, const JSOM& config);

  // Deletes the factories, last first.
  ~LogAdapterStore() override;
};

}  // namespace orvel

#endif  // ORVEL_LOG_LOGADAPTERSTORE_H
