#include "app/Options.h"
#include "app/Run.h"

int main(int argc, char* argv[]) {
  orvel::prepareProcess();
  orvel::RunSettings settings;
  if (!orvel::parseOptions(argc, argv, &settings)) {
    return 1;
  }
  return orvel::runConversion(settings);
}
