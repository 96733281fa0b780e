// The job of a phone whose eMMC shows as a USB disk: one disk image run.
#pragma once
#include <string>

#include "jobs/device_report.h"
#include "jobs/job_description.h"

class CDiskDriveFlasher : public CDeviceReport, public IJobDescription {
 public:
  static HRESULT StartFlash(const std::string& deviceId, const std::string& rawprogramXml,
                            const std::string& patchXml, const std::string& searchPaths, IDeviceReport** out);
  HRESULT DoWork() override;
  void DescribeJob(const JobSettings& settings, JobDescription* description) override;

 private:
  std::string rawprogramXml_;
  std::string patchXml_;
  std::string searchPaths_;
};
