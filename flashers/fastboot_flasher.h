// The job of a phone in fastboot mode: it runs the package's script with the
// SDK's tools in front of PATH and the phone's serial number as its
// arguments "-s SERIAL", and follows the script's output for status, progress
// and failure.
#pragma once
#include <string>
#include <string_view>

#include "jobs/device_report.h"
#include "jobs/job_description.h"

class CFastBootFlasher : public CDeviceReport, public IJobDescription {
 public:
  static HRESULT StartFlash(const std::string& deviceId, const std::string& scriptPath, IDeviceReport** out);
  HRESULT DoWork() override;
  void DescribeJob(const JobSettings& settings, JobDescription* description) override;

 private:
  std::string script_;
};

// What one line of the script's output means.
struct FastbootLine {
  bool failed = false;      // "error" or "failed", in any case: the job fails
  bool command = false;     // an echoed fastboot command ("$fastboot ...")
  double weight = 0.0;      // for a command: the weight of the file it flashes
  bool finished = false;    // fastboot's "finished": the pending weight is earned
};
FastbootLine ClassifyFastbootLine(std::string_view line);

// The command line that runs the script: /bin/sh changes into the script's
// folder, puts the SDK folder in front of PATH and runs the script traced
// (each command echoed behind "$") with "-s SERIAL". Folder, SDK folder,
// script and serial are positional parameters, never shell text.
std::string FastbootCommandLine(const std::string& folder, const std::string& sdk, const std::string& script,
                                const std::string& serial);
