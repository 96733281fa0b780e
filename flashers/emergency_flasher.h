// The job of a phone in emergency download mode: it fills a download
// parameter set, obtains the port's software-download object from its server
// and runs one DownloadBySettings.
#pragma once
#include <atomic>
#include <mutex>
#include <string>

#include "flashers/download_lock.h"
#include "flashers/qpst_report.h"
#include "jobs/job_description.h"

class CEmergencyFlasher : public CQPSTReport, public IJobDescription {
 public:
  static HRESULT StartFlash(const std::string& deviceId, const std::string& programmer, const std::string& bootImage,
                            const std::string& rawprogramXml, const std::string& patchXml,
                            const std::string& searchPaths, IDeviceReport** out,
                            const std::string& firehoseProgrammer = std::string(),
                            const std::string& firehoseMemory = std::string());

  ~CEmergencyFlasher() override;
  HRESULT DoWork() override;
  void DescribeJob(const JobSettings& settings, JobDescription* description) override;

  HRESULT SetDownloadParameter(const std::string& name, const std::string& value);
  // True only when the parameter set answers IsKnownConfiguration, as the
  // outside server's does; the program's own does not.
  bool IsQPSTServer();
  // Called by the status sink on status identifier 4425.
  void SetLastEvent() { lastEvent_ = 1; }
  // Called by the status sink when the download names the protocol that
  // flashes the phone ("DMSS", "Sahara/Firehose"); "" until then.
  void SetProtocol(const std::string& protocol);
  std::string Protocol() const;
  void DescribeProtocol(JobProtocol* protocol) override;

 private:
  // Steps 2 to 6 of the work: server objects, sink, DownloadBySettings.
  HRESULT Download();

  std::atomic<int> lastEvent_{0};
  mutable std::mutex protocolLock_;
  std::string protocol_;
  DWORD settingsCookie_ = 0;
  CDownloadLock lock_;
};
