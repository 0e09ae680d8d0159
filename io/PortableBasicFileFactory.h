// Makes the platform's basic file.
#ifndef ORVEL_IO_PORTABLEBASICFILEFACTORY_H
#define ORVEL_IO_PORTABLEBASICFILEFACTORY_H

#include "io/PortableFile.h"

namespace orvel {

class PortableBasicFileFactory {
 public:
  // A new file holding no descriptor, owned by the caller; never null.
  static PortableBasicFile* createBasicFile();
};

}  // namespace orvel

#endif  // ORVEL_IO_PORTABLEBASICFILEFACTORY_H
