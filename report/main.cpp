#include "report/ReportCommand.h"

int main(int argc, char* argv[]) {
  return orvel::runReportCommand(argc, argv);
}
