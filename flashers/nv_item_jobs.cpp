#include "flashers/nv_item_jobs.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <mutex>
#include <set>

#include "flashers/hand_out.h"
#include "flashers/phone_name.h"
#include "jobs/discovery.h"
#include "jobs/status_report.h"
#include "platform/path_name.h"
#include "platform/timing.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

constexpr int kRestoreAttempts = 2;
constexpr DWORD kRetryPauseMs = 5000;

// The backup files of phones without identity that backups of this process
// wrote: a second such phone must not replace the first one's items.
std::mutex g_unnamedLock;
std::set<std::string> g_unnamedWritten;

// The path with its folder resolved, so that two spellings of one file take
// one lock.
std::string CanonicalFile(const std::string& path) {
  std::string folder = path.substr(0, path.size() - FileName(path).size());
  char resolved[PATH_MAX];
  if (folder.empty() || !::realpath(folder.c_str(), resolved)) return path;
  return std::string(resolved) + "/" + FileName(path);
}

bool IsUnnamed(const QcnChoice& choice) { return choice.byName && choice.identity.empty(); }

}  // namespace

QcnChoice ChooseBackupFile(const std::string& deviceId, const std::string& searchPaths) {
  PhoneIdentity identity = IdentifyPhone(deviceId);
  QcnChoice choice;
  choice.path = SearchFile(searchPaths, QcnBaseName(identity) + ".qcn");
  choice.identity = IdentityLabel(identity);
  choice.byName = true;
  return choice;
}

QcnChoice ChooseRestoreFile(const std::string& deviceId, const std::string& nvFile, const std::string& searchPaths) {
  if (!nvFile.empty() && ::access(nvFile.c_str(), F_OK) == 0) return QcnChoice{nvFile, "", false};
  return ChooseBackupFile(deviceId, searchPaths);
}

HRESULT CNvItemFlasher::StartFlash(const std::string& deviceId, const std::string& nvFile,
                                   const std::string& searchPaths, IDeviceReport** out) {
  constexpr const char* kName = "CNvItemFlasher::StartFlash";
  CComObject<CNvItemFlasher>* job = nullptr;
  HRESULT hr = CComObject<CNvItemFlasher>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  job->qcn_ = ChooseRestoreFile(deviceId, nvFile, searchPaths);
  return HandOutJob(job, deviceId, out, kName);
}

// One restore attempt. *ended is set when the result is final (success, or a
// failure that is not retried); otherwise the attempt may be repeated.
HRESULT CNvItemFlasher::Attempt(HRESULT* ended) {
  constexpr const char* kName = "CNvItemFlasher::DoWork";
  ComPtr<IQPortProxy> port;
  HRESULT hr = GetPortObject(port.ReleaseAndGetAddressOf());
  AddProgress(10.0);
  if (!TraceResult(hr, kName, __LINE__)) return *ended = hr;
  hr = port->Offline();
  AddProgress(10.0);
  if (!TraceResult(hr, kName, __LINE__)) return *ended = hr;
  ComPtr<IQSoftwareDownload> download;
  ComPtr<IQStatusReport> sink;
  hr = GetSoftwareDownload(download.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = CStatusReport<CNvItemFlasher>::CreateInstance(this, sink.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->put_StatusReport(sink.Get());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ReportStatus("start flash %s", qcn_.path.c_str());
  // A file chosen by the phone's name must be this phone's: a mismatch of its
  // identity is not allowed. The configured file is a template for every phone.
  hr = download->RestoreNV(Variant::String(Bstr(qcn_.path)), Variant::String(Bstr(kServiceProgrammingCode)),
                           Variant::I4(qcn_.byName ? 0 : 1));
  if (TraceResult(hr, kName, __LINE__)) *ended = S_OK;
  // A file of another phone stays another phone's at the second attempt.
  else if (hr == HRESULT_FROM_WIN32(ERROR_WRONG_DISK)) *ended = hr;
  return hr;
}

HRESULT CNvItemFlasher::DoWork() {
  HRESULT hr = E_FAIL;
  for (int attempt = 1; attempt <= kRestoreAttempts; ++attempt) {
    HRESULT ended = S_FALSE;
    hr = Attempt(&ended);
    if (ended != S_FALSE) return ended;
    if (!WaitUnlessStopped(kRetryPauseMs)) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  }
  return hr;
}

HRESULT CNvItemBackup::StartBackup(const std::string& deviceId, const std::string& searchPaths, IDeviceReport** out) {
  constexpr const char* kName = "CNvItemBackup::StartBackup";
  CComObject<CNvItemBackup>* job = nullptr;
  HRESULT hr = CComObject<CNvItemBackup>::CreateInstance(&job);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  job->qcn_ = ChooseBackupFile(deviceId, searchPaths);
  return HandOutJob(job, deviceId, out, kName);
}

HRESULT CNvItemBackup::ClaimFile(CPhoneLock* lock) {
  constexpr const char* kName = "CNvItemBackup::ClaimFile";
  HRESULT hr = lock->TryAcquireFile(RuntimeLockPath("backup", CanonicalFile(qcn_.path)));
  if (hr == HRESULT_FROM_WIN32(ERROR_BUSY)) ReportStatus("another backup writes %s", qcn_.path.c_str());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  std::lock_guard guard(g_unnamedLock);
  if (IsUnnamed(qcn_) && g_unnamedWritten.count(CanonicalFile(qcn_.path)) != 0) {
    ReportStatus("%s holds another phone without identity", qcn_.path.c_str());
    hr = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);
  }
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT CNvItemBackup::DoWork() {
  constexpr const char* kName = "CNvItemBackup::DoWork";
  CPhoneLock lock;  // the backup file's, held until the new file is in place
  HRESULT hr = ClaimFile(&lock);
  if (TraceResult(hr, kName, __LINE__)) hr = Backup();
  if (SUCCEEDED(hr) && IsUnnamed(qcn_)) {
    std::lock_guard guard(g_unnamedLock);
    g_unnamedWritten.insert(CanonicalFile(qcn_.path));
  }
  return hr;
}

// The backup proper. The previous file stays as it is until the new one is
// complete: the service writes the new one beside it and renames it over.
HRESULT CNvItemBackup::Backup() {
  constexpr const char* kName = "CNvItemBackup::DoWork";
  ComPtr<IQSoftwareDownload> download;
  HRESULT hr = GetSoftwareDownload(download.ReleaseAndGetAddressOf());
  AddProgress(20.0);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ComPtr<IQStatusReport> sink;
  hr = CStatusReport<CNvItemBackup>::CreateInstance(this, sink.ReleaseAndGetAddressOf());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = download->put_StatusReport(sink.Get());
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  ReportStatus("start backup %s", qcn_.path.c_str());
  hr = download->BackupNV(Variant::String(Bstr(qcn_.path)), Variant::String(Bstr(kServiceProgrammingCode)));
  TraceResult(hr, kName, __LINE__);
  return hr;
}
