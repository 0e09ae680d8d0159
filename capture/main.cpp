#include "capture/Capture.h"

int main(int argc, char* argv[]) {
  return orvel::runCapture(argc, argv);
}
