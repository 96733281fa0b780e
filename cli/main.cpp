// vantor-cli: the headless front end over the same core as the windows.
#include <clocale>
#include <cstdio>
#include <cstring>

#include "cli/download_command.h"
#include "cli/jobs_command.h"
#include "cli/records_command.h"
#include "cli/write_disk_command.h"

namespace {
void Usage() {
  std::fprintf(stderr,
               "usage: vantor-cli COMMAND [OPTIONS]\n"
               "commands:\n"
               "  list                                 the attached phones: index, identifier, mode, type code\n"
               "  flash -p \"DIR[;DIR]\" [-d ID]... [--json] [--nv|--script|--programmer|--boot|--rawprogram|--patch FILE]\n"
               "      flash every listed phone (or the -d ones) by the method its mode calls for\n"
               "  backup -p \"DIR[;DIR]\" [-d ID]... [--json]\n"
               "      back up the NV items of running phones\n"
               "  download --port PORT --programmer HEX --boot IMAGE\n"
               "      load the flash programmer into a phone in emergency download mode,\n"
               "      stream the boot image into its eMMC and reset it\n"
               "  write-disk --disk PATH --rawprogram XML --patch XML [--search \"DIR;DIR\"]\n"
               "      write the files of a rawprogram XML onto a phone's USB disk, then its patches\n"
               "  records [--since DATE] [--until DATE] [--device ID] [--package DIR] [--failed] [--json|--csv]\n"
               "      the flash records, newest first, with a summary line\n");
}
}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  if (argc < 2) {
    Usage();
    return 2;
  }
  if (std::strcmp(argv[1], "list") == 0) return RunListCommand(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "flash") == 0) return RunJobsCommand(false, argc - 2, argv + 2);
  if (std::strcmp(argv[1], "backup") == 0) return RunJobsCommand(true, argc - 2, argv + 2);
  if (std::strcmp(argv[1], "download") == 0) return RunDownloadCommand(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "records") == 0) return RunRecordsCommand(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "write-disk") == 0) return RunWriteDiskCommand(argc - 2, argv + 2);
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "help") == 0) {
    Usage();
    return 0;
  }
  std::fprintf(stderr, "vantor-cli: unknown command \"%s\"\n", argv[1]);
  Usage();
  return 2;
}
