// vantor-cli: the headless front end over the same core as the windows.
#include <clocale>

#include "cli/check_command.h"
#include "cli/download_command.h"
#include "cli/jobs_command.h"
#include "cli/options.h"
#include "cli/output_status.h"
#include "cli/records_command.h"
#include "cli/write_disk_command.h"
#include "platform/open_file_limit.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");  // JSON numbers keep their decimal point
  RaiseOpenFileLimit();  // dozens of phones, each with its port, disk and files
  IgnoreBrokenPipes();
  // The commands, in the order the help lists them: one entry each.
  const std::vector<const CommandSpec*> commands = {
      &kListCommand,     &kFlashCommand,     &kBackupCommand, &kCheckCommand,
      &kDownloadCommand, &kWriteDiskCommand, &kRecordsCommand,
  };
  int status = RunCommandLine(commands, argc, argv);
  int output = FinishOutput(stdout, "vantor-cli");
  return output != 0 ? output : status;
}
