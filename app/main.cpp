#include "app/Options.h"

int main(int argc, char* argv[]) {
  orvel::RunSettings settings;
  if (!orvel::parseOptions(argc, argv, &settings)) {
    return 1;
  }
  return 0;
}
