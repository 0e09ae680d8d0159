#include "tidy/TidyCommand.h"

int main(int argc, char* argv[]) {
  return orvel::runTidyCommand(argc, argv);
}
