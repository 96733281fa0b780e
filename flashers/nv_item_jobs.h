// The jobs of a running phone's NV items: a restore writes a .qcn file into
// the phone, a backup reads the phone's items into one. Both work through
// the server's software-download object; the file is named after the phone's
// identity ("%s.qcn", see phone_name.h) unless a restore's configured file
// exists.
#pragma once
#include <string>

#include "flashers/qpst_report.h"
#include "jobs/job_description.h"
#include "jobs/phone_lock.h"

inline constexpr char kServiceProgrammingCode[] = "482615";

// The .qcn file a job works with, and the identity its name was taken from.
struct QcnChoice {
  std::string path;
  std::string identity;  // IdentityLabel of the phone; empty when the file is not named after it
  bool byName = false;   // named after the phone, not the configured file
};

// The .qcn file of a restore: the configured file when it exists, else the
// file named after the phone, found over the search paths (the first folder
// when it is nowhere).
QcnChoice ChooseRestoreFile(const std::string& deviceId, const std::string& nvFile, const std::string& searchPaths);
// The .qcn file of a backup: always the file named after the phone.
QcnChoice ChooseBackupFile(const std::string& deviceId, const std::string& searchPaths);

class CNvItemFlasher : public CQPSTReport, public IJobDescription {
 public:
  static HRESULT StartFlash(const std::string& deviceId, const std::string& nvFile, const std::string& searchPaths,
                            IDeviceReport** out);
  HRESULT DoWork() override;
  void DescribeJob(const JobSettings& settings, JobDescription* description) override;
  // The .qcn file the job restores from; fixed when it is created.
  const std::string& QcnFile() const { return qcn_.path; }

 private:
  HRESULT Attempt(HRESULT* ended);
  QcnChoice qcn_;
};

class CNvItemBackup : public CQPSTReport, public IJobDescription {
 public:
  static HRESULT StartBackup(const std::string& deviceId, const std::string& searchPaths, IDeviceReport** out);
  HRESULT DoWork() override;
  void DescribeJob(const JobSettings& settings, JobDescription* description) override;
  // The .qcn file the job writes; fixed when it is created.
  const std::string& QcnFile() const { return qcn_.path; }

 private:
  // The backup file to itself: ERROR_BUSY while another backup, of this
  // process or another, writes it; ERROR_FILE_EXISTS when it is the file of
  // a phone without identity that a backup of this process already wrote.
  HRESULT ClaimFile(CPhoneLock* lock);
  HRESULT Backup();
  QcnChoice qcn_;
};
