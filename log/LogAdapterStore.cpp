#include "log/LogAdapterStore.h"

#include "json/JSOM.h"

namespace orvel {

LogAdapterStore* LogAdapterStore::Instance() {
  static LogAdapterStore* const self = new LogAdapterStore();
  return self;
}

void LogAdapterStore::addFactory(const std::string& name, LogAdapterFactory* factory) {
  LogAdapterStore* store = Instance();
  int at = store->find(name);
  if (at < 0) {
    store->keys.push_back(name);
    store->values.push_back(factory);
    return;
  }
  LogAdapterFactory*& stored = store->values[at];
  if (stored != factory) {
    delete stored;
    stored = factory;
  }
}

LogAdapter* LogAdapterStore::createLogAdapter(const std::string& type, const JSOM& config) {
  LogAdapterStore* store = Instance();
  int at = store->find(type);
  if (at < 0 || store->values[at] == nullptr) {
    return nullptr;
  }
  return store->values[at]->create(config);
}

LogAdapterStore::~LogAdapterStore() {
  for (size_t i = values.size(); i-- > 0;) {
    delete values[i];
  }
}

}  // namespace orvel
