#include "nv/phone_identity.h"

#include <memory>

#include "nv/diag_link.h"
#include "nv/diag_phone.h"
#include "nv/qcn_file.h"
#include "platform/format.h"
#include "shell/log.h"

namespace {

constexpr size_t kMeidBytes = 7;

// Element 0 of item id in the default context of the file; null when absent.
const NvItem* FindItem(const QcnContents& contents, std::uint16_t id) {
  for (const NvItem& item : contents.items)
    if (item.id == id && item.index == 0) return &item;
  return nullptr;
}

// One identity item as the phone holds it; empty data when it has none or
// refuses it. Only a failing link is a failure.
HRESULT ReadIdentityItem(DiagPhone& phone, std::uint16_t id, NvData* data) {
  data->fill(0);
  NvAnswer answer;
  unsigned char errorCode = 0;
  HRESULT hr = phone.Read(id, 0, &answer, &errorCode);
  if (FAILED(hr) && errorCode != 0) {
    WriteLog("The phone does not give NV item %u (0x%02X).", id, errorCode);
    return S_OK;
  }
  if (!TraceResult(hr, "ReadPhoneIdentity", __LINE__)) return hr;
  if (answer.status == kNvDone) *data = answer.data;
  return S_OK;
}

}  // namespace

std::string ImeiOfItem(const NvData& data) {
  std::string digits = ImeiFromItem(data);
  if (digits.size() < 14 || digits.size() > 16 || digits.find_first_not_of('0') == std::string::npos) return "";
  return digits;
}

std::string MeidOfItem(const NvData& data) {
  std::string hex;
  bool any = false;
  for (size_t i = kMeidBytes; i-- > 0;) {
    hex += Format("%02X", data[i]);
    any = any || data[i] != 0;
  }
  return any ? hex : "";
}

std::string IdentityName(const PhoneIdentity& identity) {
  if (!identity.imei.empty()) return identity.imei;
  if (!identity.meid.empty()) return identity.meid;
  return identity.esn != 0 ? Format("%08X", identity.esn) : "";
}

std::string IdentityLabel(const PhoneIdentity& identity) {
  if (!identity.imei.empty()) return identity.imei;
  if (!identity.meid.empty()) return "MEID " + identity.meid;
  return identity.esn != 0 ? Format("ESN %08X", identity.esn) : "";
}

PhoneIdentity IdentityOfContents(const QcnContents& contents) {
  PhoneIdentity identity;
  if (const NvItem* imei = FindItem(contents, kNvImeiItem)) identity.imei = ImeiOfItem(imei->data);
  if (const NvItem* meid = FindItem(contents, kNvMeidItem)) identity.meid = MeidOfItem(meid->data);
  identity.esn = contents.esn;
  return identity;
}

bool SamePhone(const PhoneIdentity& file, const PhoneIdentity& phone, std::string* difference) {
  auto differs = [&](const char* kind, const std::string& a, const std::string& b) {
    if (a.empty() || b.empty() || a == b) return false;
    *difference = Format("file %s %s, phone %s %s", kind, a.c_str(), kind, b.c_str());
    return true;
  };
  auto esn = [](std::uint32_t value) { return value != 0 ? Format("%08X", value) : std::string(); };
  return !differs("IMEI", file.imei, phone.imei) && !differs("MEID", file.meid, phone.meid) &&
         !differs("ESN", esn(file.esn), esn(phone.esn));
}

HRESULT ReadPhoneIdentity(DiagPhone& phone, PhoneIdentity* identity) {
  *identity = PhoneIdentity();
  NvData data;
  HRESULT hr = ReadIdentityItem(phone, kNvImeiItem, &data);
  if (FAILED(hr)) return hr;
  identity->imei = ImeiOfItem(data);
  hr = ReadIdentityItem(phone, kNvMeidItem, &data);
  if (FAILED(hr)) return hr;
  identity->meid = MeidOfItem(data);
  hr = phone.ReadEsn(&identity->esn);
  TraceResult(hr, "ReadPhoneIdentity", __LINE__);
  return FAILED(hr) ? hr : S_OK;
}

HRESULT AskPhoneIdentity(SerialPort& port, std::string_view spc, PhoneIdentity* identity) {
  constexpr const char* kName = "AskPhoneIdentity";
  *identity = PhoneIdentity();
  DiagPhone phone(port);
  PhoneVersion version;
  HRESULT hr = phone.Probe(&version);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  // A refused code leaves the protected items unread, which is no failure.
  if (FAILED(phone.Unlock(spc))) WriteLog("The phone refuses the service programming code; its identity may stay unread.");
  hr = ReadPhoneIdentity(phone, identity);
  TraceResult(hr, kName, __LINE__);
  return hr;
}

HRESULT AskPhoneIdentity(const std::string& portPath, std::string_view spc, PhoneIdentity* identity) {
  constexpr const char* kName = "AskPhoneIdentity";
  *identity = PhoneIdentity();
  std::unique_ptr<SerialPort> port;
  HRESULT hr = OpenDiagPort(portPath, &port);
  if (!TraceResult(hr, kName, __LINE__)) return hr;
  hr = AskPhoneIdentity(*port, spc, identity);
  TraceResult(hr, kName, __LINE__);
  return hr;
}
