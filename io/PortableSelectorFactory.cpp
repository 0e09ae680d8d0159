#include "io/PortableSelectorFactory.h"

#include "io/LinuxSelector.h"

namespace orvel {

PortableSelector* PortableSelectorFactory::createSelector() {
  return new LinuxSelector();
}

}  // namespace orvel
