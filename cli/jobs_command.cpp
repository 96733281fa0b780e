#include "cli/jobs_command.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli/job_view.h"
#include "download/server_objects.h"
#include "jobs/discovery.h"
#include "jobs/job_record.h"
#include "jobs/job_settings.h"
#include "platform/com/class_registry.h"
#include "platform/error_text.h"
#include "process/path_list.h"
#include "shell/log.h"
#include "shell/settings.h"

namespace {

constexpr auto kPollPeriod = std::chrono::milliseconds(100);

void Usage(bool backup) {
  std::fprintf(stderr,
               "usage: vantor-cli %s [-p|--package \"DIR[;DIR...]\"] [-d|--device ID]...%s [--json]\n", backup ? "backup" : "flash",
               backup ? "" : "\n       [--nv FILE] [--script FILE] [--programmer FILE] [--boot FILE] [--rawprogram FILE] [--patch FILE]");
}

int RefreshFailed(HRESULT hr) {
  std::printf("error: %s(0x%08x)\n", GetErrorText(hr).c_str(), static_cast<unsigned>(hr));
  return 1;
}

struct Options {
  std::string package;
  std::vector<std::string> devices;
  FileSettings files;
  bool json = false;
};

// The stored settings (never written here), then the options over them.
// False for a usage error.
bool Parse(bool backup, int argc, char** argv, Options* o) {
  o->package = ReadSetting(kSearchPathSetting);
  o->files.nvItemFile = ReadSetting(kNvItemFileSetting);
  o->files.fastbootScript = ReadSetting(kBatchFileSetting);
  o->files.flashProgrammer = ReadSetting(kProgrammerSetting);
  o->files.bootImage = ReadSetting(kBootImageSetting);
  o->files.rawprogramXml = ReadSetting(kRawFileSetting);
  o->files.patchXml = ReadSetting(kPatchFileSetting);
  for (int i = 0; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--json") {
      o->json = true;
      continue;
    }
    std::string* target = arg == "-p" || arg == "--package" ? &o->package
                          : arg == "-d" || arg == "--device" ? nullptr
                          : backup ? nullptr
                          : arg == "--nv" ? &o->files.nvItemFile
                          : arg == "--script" ? &o->files.fastbootScript
                          : arg == "--programmer" ? &o->files.flashProgrammer
                          : arg == "--boot" ? &o->files.bootImage
                          : arg == "--rawprogram" ? &o->files.rawprogramXml
                          : arg == "--patch" ? &o->files.patchXml
                                             : nullptr;
    bool device = arg == "-d" || arg == "--device";
    if ((!target && !device) || i + 1 >= argc) return false;
    if (device) o->devices.push_back(argv[++i]);
    else *target = argv[++i];
  }
  return true;
}

JobRow Read(IDeviceReport* job) {
  JobRow r;
  r.percent = job->GetPercent();
  r.elapsed = job->GetElapsedTime();
  Bstr status;
  job->GetStatus(&status);
  r.status = status.str();
  r.error = job->HasError();
  r.done = job->IsCompleted();
  return r;
}

}  // namespace

int RunListCommand(int argc, char**) {
  if (argc != 0) {
    std::fprintf(stderr, "usage: vantor-cli list\n");
    return 2;
  }
  std::vector<std::string> devices;
  HRESULT hr = GetDeviceList(&devices);
  if (!TraceResult(hr, "RunListCommand", __LINE__)) return RefreshFailed(hr);
  for (const std::string& id : devices) {
    DWORD type = GetDeviceType(id);
    const char* mode = type == kDeviceEmergencyDownload ? "emergency-download"
                       : type == kDeviceUsbDisk         ? "usb-disk"
                       : type == kDeviceFastboot        ? "fastboot"
                       : type == kDeviceDiagnostic      ? "diagnostic"
                                                        : "unknown";
    std::printf("%u %s %s 0x%07x\n", GetDeviceIndex(id), id.c_str(), mode, type);
  }
  return 0;
}

// Starts a job per phone as the main window does, then polls every job every
// 100 ms until all have completed.
int RunJobsCommand(bool backup, int argc, char** argv) {
  Options options;
  if (!Parse(backup, argc, argv, &options)) {
    Usage(backup);
    return 2;
  }
  bool anyFolder = false;
  for (const std::string& folder : SplitPathList(options.package)) anyFolder = anyFolder || ::access(folder.c_str(), F_OK) == 0;
  if (!anyFolder) {
    std::fprintf(stderr, "vantor-cli: no package folder of \"%s\" exists\n", options.package.c_str());
    return 2;
  }
  std::vector<std::string> devices = options.devices;
  if (devices.empty()) {
    HRESULT hr = GetDeviceList(&devices);
    if (!TraceResult(hr, "RunJobsCommand", __LINE__)) return RefreshFailed(hr);
  }
  // No outside automation server exists here: the program's own serves the
  // emergency and NV jobs of this run.
  std::vector<DWORD> cookies;
  RegisterServerObjects(&cookies);
  CoResumeClassObjects();

  std::vector<JobRow> rows(devices.size());
  std::vector<ComPtr<IDeviceReport>> jobs(devices.size());
  for (size_t i = 0; i < devices.size(); ++i) {
    rows[i].device = devices[i];
    rows[i].index = GetDeviceIndex(devices[i]);
    StartRowJob(backup, devices[i], options.package, options.files, jobs[i].ReleaseAndGetAddressOf());
  }
  JobView view(options.json ? ViewMode::Json : ::isatty(STDOUT_FILENO) ? ViewMode::Table : ViewMode::Lines, stdout);
  for (bool all = false; !all;) {
    all = true;
    for (size_t i = 0; i < jobs.size(); ++i) {
      JobRow now = Read(jobs[i].Get());
      now.device = rows[i].device;
      now.index = rows[i].index;
      RecordJobIfEnded(jobs[i].Get(), now.device, now.index, now.status);
      rows[i] = now;
      all = all && now.done;
    }
    if (all) break;
    view.Update(rows);
    std::this_thread::sleep_for(kPollPeriod);
  }
  view.Finish(rows);
  jobs.clear();
  RevokeServerObjects(&cookies);
  for (const JobRow& r : rows)
    if (r.error) return 1;
  return 0;
}
