#include "app/OutOfMemory.h"
#include "report/ReportCommand.h"

int main(int argc, char* argv[]) {
  orvel::handleOutOfMemory("spanmill-report");
  return orvel::runReportCommand(argc, argv);
}
