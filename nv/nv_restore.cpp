#include <memory>

#include "download/transport.h"
#include "nv/diag_link.h"
#include "nv/diag_phone.h"
#include "nv/nv_service.h"
#include "nv/phone_identity.h"
#include "nv/qcn_file.h"
#include "shell/log.h"

namespace {

constexpr int kWriteReports = 6;
constexpr const char* kName = "RestoreNvItems";

std::string ItemName(const NvItem& item, std::uint16_t context) {
  std::string name = std::to_string(item.id);
  if (item.index != 0) name += "/" + std::to_string(item.index);
  if (context != 0) name += "@" + std::to_string(context);
  return name;
}

bool IsIdentityItem(const NvItem& item) { return item.id == kNvImeiItem || item.id == kNvMeidItem; }

HRESULT ReadBack(DiagPhone& phone, const NvItem& item, std::uint16_t context, NvAnswer* answer) {
  unsigned char errorCode = 0;
  return context == 0 ? phone.Read(item.id, static_cast<unsigned char>(item.index), answer, &errorCode)
                      : phone.ReadContext(item.id, context, answer, &errorCode);
}

// Whether the phone already holds the item's value. An identity item is
// written only then, so that no file gives one phone another's identity.
HRESULT HoldsSameValue(DiagPhone& phone, const NvItem& item, std::uint16_t context, bool* same) {
  NvAnswer answer;
  HRESULT hr = ReadBack(phone, item, context, &answer);
  *same = SUCCEEDED(hr) && answer.status == kNvDone && answer.data == item.data;
  // A refused or missing item is simply not the same; a link that fails ends the restore.
  if (hr == HRESULT_FROM_WIN32(ERROR_TIMEOUT) || hr == HRESULT_FROM_WIN32(ERROR_CRC)) return hr;
  return S_OK;
}

// Writes one item and reads it back. S_OK when it holds the value, S_FALSE
// when the phone keeps it read-only or it is an identity the phone does not
// hold.
HRESULT WriteItem(DiagPhone& phone, const NvItem& item, std::uint16_t context) {
  NvAnswer answer;
  unsigned char errorCode = 0;
  if (IsIdentityItem(item)) {
    bool same = false;
    HRESULT hr = HoldsSameValue(phone, item, context, &same);
    if (!TraceResult(hr, kName, __LINE__)) return hr;
    if (!same) {
      WriteLog("NV item %s holds another identity than the phone's; skipped.", ItemName(item, context).c_str());
      return S_FALSE;
    }
  }
  HRESULT hr = context == 0 ? phone.Write(item, &answer, &errorCode) : phone.WriteContext(item, context, &answer, &errorCode);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  if (answer.status == kNvReadOnly) {
    WriteLog("NV item %s is read-only; skipped.", ItemName(item, context).c_str());
    return S_FALSE;
  }
  hr = NvStatusResult(answer.status);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = ReadBack(phone, item, context, &answer);
  if (SUCCEEDED(hr)) hr = NvStatusResult(answer.status);
  if (SUCCEEDED(hr) && answer.data != item.data) {
    hr = HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    WriteLog("NV item %s reads back other data than was written.", ItemName(item, context).c_str());
  }
  TraceResult(hr, kName, __LINE__);
  return hr;
}

class Restore {
 public:
  Restore(DiagPhone& phone, const QcnContents& contents, IQStatusReport* sink)
      : phone_(phone), contents_(contents), sink_(sink) {
    total_ = contents.items.size() + contents.contextItems[0].size() + contents.contextItems[1].size();
  }

  HRESULT WriteAll() {
    HRESULT hr = WriteList(contents_.items, 0);
    for (std::uint16_t context = 1; context <= 2 && SUCCEEDED(hr); ++context) {
      if (contents_.contextItems[context - 1].empty()) continue;
      hr = WriteList(contents_.contextItems[context - 1], context);
    }
    if (FAILED(hr)) LogWritten();
    return hr;
  }

 private:
  HRESULT WriteList(const std::vector<NvItem>& items, std::uint16_t context) {
    for (size_t i = 0; i < items.size(); ++i) {
      HRESULT hr = WriteItem(phone_, items[i], context);
      if (context != 0 && i == 0 && hr == HRESULT_FROM_WIN32(ERROR_BAD_COMMAND)) {
        // The phone keeps no NV items per subscription: nothing to restore there.
        WriteLog("The phone keeps no NV items per subscription; %zu items of subscription %u skipped.", items.size(),
                 context);
        return S_OK;
      }
      if (FAILED(hr)) {
        WriteLog("NV item %s could not be restored.", ItemName(items[i], context).c_str());
        return hr;
      }
      if (hr == S_OK) written_.push_back(ItemName(items[i], context));
      Step();
    }
    return S_OK;
  }

  void Step() {
    ++done_;
    while (reported_ < kWriteReports && done_ * kWriteReports >= total_ * (reported_ + 1)) {
      ++reported_;
      NotifyStatus(sink_, "Wrote NV items %zu/%zu", done_, total_);
    }
  }

  void LogWritten() {
    std::string list;
    for (const std::string& name : written_) list += (list.empty() ? "" : " ") + name;
    WriteLog("NV items written before the failure (%zu): %s", written_.size(), list.empty() ? "none" : list.c_str());
  }

  DiagPhone& phone_;
  const QcnContents& contents_;
  IQStatusReport* sink_;
  std::vector<std::string> written_;
  size_t total_ = 0;
  size_t done_ = 0;
  int reported_ = 0;
};

// Whether the file is this phone's. A file that must be (allowEsnMismatch
// false) fails with ERROR_WRONG_DISK on any identity that differs, before
// anything is written; otherwise the difference is logged, and the identity
// items are left alone by WriteItem.
HRESULT CheckIdentity(DiagPhone& phone, const QcnContents& contents, bool allowEsnMismatch, IQStatusReport* sink) {
  PhoneIdentity identity;
  HRESULT hr = ReadPhoneIdentity(phone, &identity);
  if (FAILED(hr)) return hr;
  std::string difference;
  if (SamePhone(IdentityOfContents(contents), identity, &difference)) return S_OK;
  if (allowEsnMismatch) {
    WriteLog("The NV file is another phone's (%s); restored all the same, identity items only where they agree.",
             difference.c_str());
    return S_OK;
  }
  NotifyStatus(sink, "The NV file is another phone's: %s", difference.c_str());
  return HRESULT_FROM_WIN32(ERROR_WRONG_DISK);
}

// The restore of contents already read.
HRESULT RestoreContents(SerialPort& port, const QcnContents& contents, const std::string& spc, bool allowEsnMismatch,
                        IQStatusReport* sink) {
  HRESULT hr = S_OK;
  DiagPhone phone(port);
  PhoneVersion version;
  hr = phone.Probe(&version);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = phone.Unlock(spc);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = CheckIdentity(phone, contents, allowEsnMismatch, sink);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = phone.SetMode(kModeOffline);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  NotifyStatus(sink, "Restore %zu NV items", contents.items.size() + contents.contextItems[0].size() +
                                                  contents.contextItems[1].size());
  Restore restore(phone, contents, sink);
  hr = restore.WriteAll();
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  NotifyStatus(sink, "Reset phone");
  hr = phone.SetMode(kModeReset);
  // A phone may leave the bus before its answer is read.
  if (hr == HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED)) hr = S_OK;
  TraceResult(hr, kName, __LINE__);
  return hr;
}

}  // namespace

HRESULT RestoreNvItems(SerialPort& port, const std::string& qcnPath, const std::string& spc, bool allowEsnMismatch,
                       IQStatusReport* sink) {
  QcnContents contents;
  HRESULT hr = ReadQcnFile(qcnPath, &contents);
  if (TraceResult(hr, kName, __LINE__)) hr = RestoreContents(port, contents, spc, allowEsnMismatch, sink);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT PhoneOffline(SerialPort& port) {
  DiagPhone phone(port);
  PhoneVersion version;
  HRESULT hr = phone.Probe(&version);
  if (TraceResult(hr, "PhoneOffline", __LINE__)) hr = phone.SetMode(kModeOffline);
  TraceResult(hr, "PhoneOffline", __LINE__);
  return hr;
}

namespace {

template <class Work>
HRESULT OnPort(const char* name, const std::string& portPath, Work work) {
  std::unique_ptr<SerialPort> port;
  HRESULT hr = OpenDiagPort(portPath, &port);
  if (TraceResult(hr, name, __LINE__)) hr = work(*port);
  TraceResult(hr, name, __LINE__);
  return hr;  // the port closes here
}

}  // namespace

HRESULT PhoneOffline(const std::string& portPath) {
  return OnPort("PhoneOffline", portPath, [](SerialPort& port) { return PhoneOffline(port); });
}

HRESULT BackupNvItems(const std::string& portPath, const std::string& qcnPath, const std::string& spc,
                      const NvBackupOptions& options, IQStatusReport* sink) {
  return OnPort("BackupNvItems", portPath,
                [&](SerialPort& port) { return BackupNvItems(port, qcnPath, spc, options, sink); });
}

HRESULT RestoreNvItems(const std::string& portPath, const std::string& qcnPath, const std::string& spc,
                       bool allowEsnMismatch, IQStatusReport* sink) {
  // The file is read before the port is opened: a malformed one never
  // reaches the phone.
  QcnContents contents;
  HRESULT hr = ReadQcnFile(qcnPath, &contents);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  return OnPort("RestoreNvItems", portPath,
                [&](SerialPort& port) { return RestoreContents(port, contents, spc, allowEsnMismatch, sink); });
}
