#include "cli/jobs_command.h"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/job_run.h"
#include "cli/records_notice.h"
#include "cli/package_options.h"
#include "cli/phone_choice.h"
#include "cli/run_signals.h"
#include "download/server_objects.h"
#include "jobs/discovery.h"
#include "jobs/job_settings.h"
#include "platform/com/class_registry.h"
#include "platform/format.h"
#include "platform/text.h"
#include "process/path_list.h"
#include "shell/log.h"
#include "shell/settings.h"

namespace {

const OptionSpec kDevice{"device", 'd', "ID|INDEX",
                         "a phone by its identifier or its location index (default: every attached phone)", true};
const OptionSpec kTimeout{"timeout", 0, "SECONDS", "fail a job still running after this long (default: no limit)"};
const OptionSpec kJson{"json", 0, nullptr, "one JSON object per status message, per finished phone and for the summary"};

std::vector<OptionSpec> FlashOptions() {
  std::vector<OptionSpec> options = {kPackageOption, kDevice};
  for (const OptionSpec& o : FileOptionSpecs()) options.push_back(o);
  options.insert(options.end(), {kFirehoseMemoryOption, kTimeout, kJson});
  return options;
}

// A positive number of seconds; false for anything else.
bool ParseSeconds(const std::string& text, double* seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0) return false;
  *seconds = value;
  return true;
}

int UsageError(const char* command, const std::string& message) {
  std::fprintf(stderr, "vantor-cli %s: %s\n", command, message.c_str());
  return 2;
}

const char* ModeName(DWORD type) {
  return type == kDeviceEmergencyDownload ? "emergency-download"
         : type == kDeviceUsbDisk         ? "usb-disk"
         : type == kDeviceFastboot        ? "fastboot"
         : type == kDeviceDiagnostic      ? "diagnostic"
                                          : "unknown";
}

std::string PhoneLine(const AttachedPhone& p, bool json) {
  std::string type = Format("0x%07x", p.type);
  if (json)
    return Format("{\"index\":%u,\"device\":%s,\"mode\":\"%s\",\"type\":\"%s\"}\n", p.index,
                  JsonString(p.id).c_str(), ModeName(p.type), type.c_str());
  return Format("%u %s %s %s\n", p.index, p.id.c_str(), ModeName(p.type), type.c_str());
}

int RunList(const ParsedOptions& parsed) {
  bool json = parsed.Has("json");
  std::vector<AttachedPhone> phones;
  HRESULT hr = ListAttachedPhones(&phones);
  if (!TraceResult(hr, "RunListCommand", __LINE__)) {
    JobView(json ? ViewMode::Json : ViewMode::Lines, stdout).Error("the phones cannot be listed", hr);
    return 1;
  }
  for (const AttachedPhone& p : phones) std::fputs(PhoneLine(p, json).c_str(), stdout);
  return 0;
}

// Starts a job per chosen phone as the main window does, then runs the
// polling loop until every job has finished.
int RunJobsCommand(bool backup, const ParsedOptions& parsed) {
  const char* name = backup ? "backup" : "flash";
  std::string package = ReadPackageOption(parsed);
  FileSettings files = ReadFileOptions(parsed);
  double timeout = 0;
  if (parsed.Has("timeout") && !ParseSeconds(parsed.Value("timeout"), &timeout))
    return UsageError(name, "--timeout \"" + parsed.Value("timeout") + "\" is not a positive number of seconds");
  if (!AnyPackageFolderExists(package)) return UsageError(name, "no package folder of \"" + package + "\" exists");
  // Refused before any phone is touched, not first by each Firehose job.
  if (std::string error = backup ? "" : FirehoseMemoryError(parsed, files); !error.empty())
    return UsageError(name, error);

  JobView view(ChooseViewMode(parsed.Has("json"), ::isatty(STDOUT_FILENO), std::getenv("TERM")), stdout);
  view.SetColour(ColourWanted(std::getenv("NO_COLOR"), std::getenv("TERM")));
  InstallRunSignals();
  std::vector<AttachedPhone> attached;
  HRESULT hr = ListAttachedPhones(&attached);
  if (!TraceResult(hr, "RunJobsCommand", __LINE__)) {
    view.Error("the phones cannot be listed", hr);
    return 1;
  }
  std::vector<AttachedPhone> chosen;
  std::string unmatched;
  if (!ChoosePhones(backup, parsed.Values("device"), attached, &chosen, &unmatched)) {
    std::string message = "-d \"" + unmatched + "\" names no attached phone";
    if (view.mode() == ViewMode::Json) view.Error(message, S_OK);
    return UsageError(name, message);
  }
  if (chosen.empty()) {
    view.Error(backup ? "no running phone is attached" : "no phone is attached", S_OK);
    return 1;
  }
  if (int signal = PendingStopSignal()) return 128 + signal;

  // No outside automation server exists here: the program's own serves the
  // emergency and NV jobs of this run.
  std::vector<DWORD> cookies;
  RegisterServerObjects(&cookies);
  CoResumeClassObjects();
  std::vector<RunEntry> entries(chosen.size());
  for (size_t i = 0; i < chosen.size(); ++i) {
    entries[i].row.device = chosen[i].id;
    entries[i].row.index = chosen[i].index;
    StartRowJob(backup, chosen[i].id, package, files, entries[i].job.ReleaseAndGetAddressOf());
  }
  RunOptions options;
  options.timeoutSeconds = timeout;
  int status = RunJobs(&entries, options, RunHooks{}, &view);
  entries.clear();
  ReportRecordsFault();
  RevokeServerObjects(&cookies);
  return status;
}

}  // namespace

const CommandSpec kListCommand{"list",
                               "the attached phones: index, identifier, mode, type code",
                               {{"json", 0, nullptr, "one JSON object per phone"}},
                               RunList};

const CommandSpec kFlashCommand{
    "flash", "flash every attached phone (or the -d ones) by the method its mode calls for", FlashOptions(),
    [](const ParsedOptions& parsed) { return RunJobsCommand(false, parsed); }};

const CommandSpec kBackupCommand{"backup",
                                 "back up the NV items of the running phones (or the -d ones)",
                                 {kPackageOption, kDevice, kTimeout, kJson},
                                 [](const ParsedOptions& parsed) { return RunJobsCommand(true, parsed); }};
