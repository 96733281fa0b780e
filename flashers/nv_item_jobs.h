// The jobs of a running phone's NV items: a restore writes a .qcn file into
// the phone, a backup reads the phone's items into one. Both work through
// the server's software-download object; the file is named after the phone's
// IMEI ("%s.qcn") unless a restore's configured file exists.
#pragma once
#include <string>

#include "flashers/qpst_report.h"

inline constexpr char kServiceProgrammingCode[] = "482615";

// The .qcn path of a restore: the configured file when it exists, else the
// IMEI-named file found over the search paths (the first folder when it is
// nowhere).
std::string RestoreFilePath(const std::string& deviceId, const std::string& nvFile, const std::string& searchPaths);
// The .qcn path of a backup: always the IMEI-named file.
std::string BackupFilePath(const std::string& deviceId, const std::string& searchPaths);

class CNvItemFlasher : public CQPSTReport {
 public:
  static HRESULT StartFlash(const std::string& deviceId, const std::string& nvFile, const std::string& searchPaths,
                            IDeviceReport** out);
  HRESULT DoWork() override;
  // The .qcn file the job restores from; fixed when it is created.
  const std::string& QcnFile() const { return qcn_; }

 private:
  HRESULT Attempt(HRESULT* ended);
  std::string qcn_;
};

class CNvItemBackup : public CQPSTReport {
 public:
  static HRESULT StartBackup(const std::string& deviceId, const std::string& searchPaths, IDeviceReport** out);
  HRESULT DoWork() override;
  // The .qcn file the job writes; fixed when it is created.
  const std::string& QcnFile() const { return qcn_; }

 private:
  std::string qcn_;
};
