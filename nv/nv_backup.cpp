#include <algorithm>

#include "download/transport.h"
#include "nv/diag_phone.h"
#include "nv/nv_item_table.h"
#include "nv/nv_service.h"
#include "nv/qcn_file.h"
#include "platform/registry/registry.h"
#include "shell/log.h"
#include "shell/program.h"
#include "shell/settings.h"

namespace {

constexpr int kWalkReports = 4;
constexpr unsigned kMaxWalkBound = 65536;

// Whether a failed read ends the walk: an unknown command, a wrong length,
// a refused request, a wrong mode, or a link that no longer answers. Bad
// parameters (an id the phone does not have) and a locked item do not.
bool EndsWalk(unsigned char errorCode) {
  return errorCode != kDiagBadParameters && errorCode != kDiagBadSpcMode && errorCode != kDiagBadSecurityMode;
}

// Reads every element of item id; stores what the phone holds. S_OK also
// when the item is skipped.
HRESULT ReadItem(DiagPhone& phone, std::uint16_t id, std::vector<NvItem>* items) {
  constexpr const char* kName = "BackupNvItems";
  for (unsigned element = 0; element < NvElementCount(id); ++element) {
    NvAnswer answer;
    unsigned char errorCode = 0;
    HRESULT hr = phone.Read(id, static_cast<unsigned char>(element), &answer, &errorCode);
    if (FAILED(hr)) {
      if (EndsWalk(errorCode)) {
        TraceResult(hr, kName, __LINE__);
        WriteLog("NV item %u could not be read; the backup ends.", id);
        return hr;
      }
      if (errorCode != kDiagBadParameters) WriteLog("NV item %u is locked (0x%02X); not backed up.", id, errorCode);
      return S_OK;
    }
    switch (answer.status) {
      case kNvDone:
        items->push_back(NvItem{id, static_cast<std::uint16_t>(element), answer.data});
        continue;
      case kNvNotActive:
      case kNvBadParameter:
      case kNvBadTarget:
        return S_OK;  // the phone does not hold it
      case kNvBusy:
      case kNvBadCommand:
        hr = NvStatusResult(answer.status);
        TraceResult(hr, kName, __LINE__);
        WriteLog("NV item %u: status %u; the backup ends.", id, answer.status);
        return hr;
      default:
        WriteLog("NV item %u: status %u; not backed up.", id, answer.status);
        return S_OK;
    }
  }
  return S_OK;
}

// The subscription copies of the items read: tried once with the first
// item; a phone that does not answer the NV subsystem has none.
HRESULT ReadContexts(DiagPhone& phone, QcnContents* contents) {
  if (contents->items.empty()) return S_OK;
  NvAnswer answer;
  unsigned char errorCode = 0;
  HRESULT hr = phone.ReadContext(contents->items.front().id, 1, &answer, &errorCode);
  if (FAILED(hr)) {
    if (errorCode == 0) return hr;  // the link failed
    WriteLog("The phone keeps no NV items per subscription (0x%02X).", errorCode);
    return S_OK;
  }
  for (std::uint16_t context = 1; context <= 2; ++context) {
    for (const NvItem& item : contents->items) {
      if (item.index != 0) continue;
      hr = phone.ReadContext(item.id, context, &answer, &errorCode);
      if (FAILED(hr) && errorCode == 0) return hr;
      if (SUCCEEDED(hr) && answer.status == kNvDone)
        contents->contextItems[context - 1].push_back(NvItem{item.id, 0, answer.data});
    }
  }
  return S_OK;
}

}  // namespace

unsigned ReadNvWalkBound() {
  CRegKey key;
  DWORD value = 0, type = 0, size = sizeof value;
  if (key.Open(HKEY_CURRENT_USER, kSettingsKey) != ERROR_SUCCESS ||
      RegQueryValueEx(key.get(), "NvWalkBound", &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != sizeof value || value == 0)
    return NvBackupOptions().walkBound;
  return std::min<unsigned>(value, kMaxWalkBound);
}

HRESULT BackupNvItems(SerialPort& port, const std::string& qcnPath, const std::string& spc, const NvBackupOptions& options,
                      IQStatusReport* sink) {
  constexpr const char* kName = "BackupNvItems";
  DiagPhone phone(port);
  PhoneVersion version;
  HRESULT hr = phone.Probe(&version);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  QcnContents contents;
  contents.phoneVersion = version.compiled;
  contents.writer = kProgramCaption;
  hr = phone.ReadEsn(&contents.esn);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = phone.Unlock(spc);
  if (!TraceResult(hr, kName, __LINE__)) return hr;

  const unsigned bound = std::clamp(options.walkBound, 1u, kMaxWalkBound);
  int reported = 0;
  for (unsigned id = 0; id < bound; ++id) {
    hr = ReadItem(phone, static_cast<std::uint16_t>(id), &contents.items);
    if (FAILED(hr)) return hr;
    while (reported < kWalkReports && id + 1 >= static_cast<unsigned long long>(bound) * (reported + 1) / kWalkReports) {
      ++reported;
      NotifyStatus(sink, "Read NV items %u/%u", id + 1, bound);
    }
  }
  hr = ReadContexts(phone, &contents);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = WriteQcnFile(qcnPath, contents);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  WriteLog("Backed up %zu NV items (%zu and %zu per subscription) into %s", contents.items.size(),
           contents.contextItems[0].size(), contents.contextItems[1].size(), qcnPath.c_str());
  return S_OK;
}
