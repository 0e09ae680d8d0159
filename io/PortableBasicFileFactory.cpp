#include "io/PortableBasicFileFactory.h"

#include "io/LinuxBasicFile.h"

namespace orvel {

PortableBasicFile* PortableBasicFileFactory::createBasicFile() {
  return new LinuxBasicFile();
}

}  // namespace orvel
