// spanmill-report's command line: "summary" and "chrome" over spanmill
// reports. Exit status 0 on success, 1 when a report cannot be read or the
// output cannot be written (with one line on standard error naming the
// file), 2 for a command line it does not understand.
#ifndef ORVEL_REPORT_REPORTCOMMAND_H
#define ORVEL_REPORT_REPORTCOMMAND_H

namespace orvel {

int runReportCommand(int argc, char* argv[]);

}  // namespace orvel

#endif  // ORVEL_REPORT_REPORTCOMMAND_H
