// Makes the platform's selector.
#ifndef ORVEL_IO_PORTABLESELECTORFACTORY_H
#define ORVEL_IO_PORTABLESELECTORFACTORY_H

#include "io/PortableSelector.h"

namespace orvel {

class PortableSelectorFactory {
 public:
  // A new running selector, owned by the caller, who deletes it when done.
  static PortableSelector* createSelector();
};

}  // namespace orvel

#endif  // ORVEL_IO_PORTABLESELECTORFACTORY_H
