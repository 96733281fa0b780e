// The dispatch halves of the program's own server objects as a late-bound
// client sees them: every member of each interface in slot order, with the
// type library's dispatch identifiers, argument counts and result types.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/download_settings.h"
#include "download/server_objects.h"
#include "download/software_download.h"

namespace {

struct Member {
  std::string name;
  DISPID id;
  WORD kind;
  size_t args;
  VARTYPE result;
};

std::vector<Member> Members(IDispatch* object) {
  std::vector<Member> members;
  ITypeInfo* info = nullptr;
  if (object->GetTypeInfo(0, &info) != S_OK) return members;
  unsigned count = 0;
  info->GetFuncCount(&count);
  for (unsigned i = 0; i < count; ++i) {
    const DispMember* m = nullptr;
    if (info->GetFuncDesc(i, &m) == S_OK) members.push_back({m->name, m->id, m->kind, m->args.size(), m->result});
  }
  info->Release();
  return members;
}

std::vector<std::string> Names(const std::vector<Member>& members) {
  std::vector<std::string> names;
  for (const Member& m : members) names.push_back(m.name);
  return names;
}

// Identifiers count from 1 in slot order; a property's get and put, which
// follow each other, share one.
void ExpectNumberedInSlotOrder(const std::vector<Member>& members) {
  DISPID expected = 0;
  for (size_t i = 0; i < members.size(); ++i) {
    if (i == 0 || members[i].name != members[i - 1].name) ++expected;
    EXPECT_EQ(members[i].id, expected) << members[i].name;
  }
}

DISPID IdOf(IDispatch* object, std::string name) {
  DISPID id = DISPID_UNKNOWN;
  EXPECT_EQ(object->GetIDsOfNames(&name, 1, &id), S_OK) << name;
  return id;
}

}  // namespace

TEST(ServerTypeInfo, ThePortObjectServesAllFortyMembersInSlotOrder) {
  ComPtr<IQPortProxy> port;
  ASSERT_EQ(CPortProxy::CreateInstance("/dev/ttyUSB7", port.ReleaseAndGetAddressOf()), S_OK);
  std::vector<Member> members = Members(port.Get());
  const std::vector<std::string> slotOrder = {
      "QPSTPhone", "StatusReport", "EFS", "Reset", "Offline", "SendSPC", "ESN", "IsUSB", "PhoneMode",
      "PhoneStatus", "PortId", "PortLabel", "PortName", "QPSTPortConfig", "FlashImage", "SendCommand",
      "ModelNumber", "BuildId", "IMEI", "LockPhone", "UnlockPhone", "MEID", "SoftwareDownload", "QPSTServer",
      "Provisioning", "LockPhoneWithKey", "UnlockPhoneWithKey", "PhoneLockKey", "SendStreamCloseLog",
      "CommandTimeout", "CommandTimeout", "TraceLevel", "TraceLevel", "Annotate", "PhoneModeStateChange",
      "PhoneModeStateChange", "MemoryDebug", "IPAddress", "GetEFSSubsystem", "GetPhoneUid"};
  EXPECT_EQ(Names(members), slotOrder);
  ExpectNumberedInSlotOrder(members);

  EXPECT_EQ(IdOf(port.Get(), "offline"), 5);
  EXPECT_EQ(IdOf(port.Get(), "PhoneStatus"), 10);
  EXPECT_EQ(IdOf(port.Get(), "SoftwareDownload"), 23);

  DISPPARAMS none{};
  Variant result;
  ASSERT_EQ(port->Invoke(10, DISPATCH_PROPERTYGET, &none, &result), S_OK);
  EXPECT_EQ(result.vt(), VT_I4);
  EXPECT_EQ(result.Signed(), 5);
  EXPECT_EQ(port->Invoke(IdOf(port.Get(), "Reset"), DISPATCH_METHOD, &none, &result), E_NOTIMPL);
  Variant level[] = {Variant::I4(3)};
  DISPPARAMS put{level, 1};
  EXPECT_EQ(port->Invoke(31, DISPATCH_PROPERTYPUT, &put, nullptr), E_NOTIMPL);
  EXPECT_EQ(port->Invoke(31, DISPATCH_PROPERTYGET, &none, &result), E_NOTIMPL);
}

TEST(ServerTypeInfo, TheSoftwareDownloadObjectNumbersItsMembersLikeItsTypeLibrary) {
  CComObject<CSoftwareDownload>* raw = nullptr;
  ASSERT_EQ(CComObject<CSoftwareDownload>::CreateInstance(&raw), S_OK);
  ComPtr<IQSoftwareDownload> download(raw);
  std::vector<Member> members = Members(download.Get());
  const std::vector<std::string> slotOrder = {
      "SetServer", "SetPhone", "StatusReport", "DownloadPhoneImage", "DownloadBootImage", "BackupNV", "RestoreNV",
      "GetCompletionStatus", "GetErrorMessage", "DownloadPhoneAndBootImage", "NANDFlash", "MultiImageDownload",
      "OTPImageDownload", "DownloadCEFS_Image", "GetMI_CompletedStatus", "OTPDownloadAMSS", "OTPDownloadOEMSBL",
      "ImageDownloadTimeout", "ImageDownloadTimeout", "FactoryImageDownload", "DownloadCEFS_ImageAlternate",
      "RestorePrlMode", "RestorePrlMode", "DownloadSettings", "DownloadBySettings"};
  EXPECT_EQ(Names(members), slotOrder);
  ExpectNumberedInSlotOrder(members);
  EXPECT_EQ(IdOf(download.Get(), "DownloadBySettings"), 23);
  EXPECT_EQ(IdOf(download.Get(), "RestoreNV"), 7);
  EXPECT_EQ(members[6].args, 3u);  // RestoreNV(path, spc, allowEsnMismatch)
  EXPECT_EQ(members[5].args, 2u);  // BackupNV(path, spc)
}

TEST(ServerTypeInfo, TheDownloadSettingsDispatchTableHasGetLastError) {
  ComPtr<IDownloadSettings> settings;
  ASSERT_EQ(CreateDownloadSettings(settings.ReleaseAndGetAddressOf()), S_OK);
  EXPECT_EQ(Names(Members(settings.Get())),
            (std::vector<std::string>{"GetParam", "SetParam", "PhoneComponent", "IsKnownConfiguration", "GetLastError"}));
  DISPID id = IdOf(settings.Get(), "GetLastError");
  EXPECT_EQ(id, 5);
  Variant args[5];
  DISPPARAMS five{args, 5};
  EXPECT_EQ(settings->Invoke(id, DISPATCH_METHOD, &five, nullptr), E_NOTIMPL);
}

TEST(ServerTypeInfo, EveryServerMemberHasItsArgumentsAndResultType) {
  CComObject<CAtmnServer>* raw = nullptr;
  ASSERT_EQ(CComObject<CAtmnServer>::CreateInstance(&raw), S_OK);
  ComPtr<IDispatch> server(raw);
  struct Expected {
    const char* name;
    DISPID id;
    WORD kind;
    size_t args;
    VARTYPE result;
  };
  const Expected expected[] = {
      {"GetPortList", 1, DISPATCH_METHOD, 0, VT_UNKNOWN},
      {"ShowWindow", 2, DISPATCH_METHOD, 0, VT_EMPTY},
      {"HideWindow", 3, DISPATCH_METHOD, 0, VT_EMPTY},
      {"Quit", 4, DISPATCH_METHOD, 0, VT_EMPTY},
      {"GetPort", 5, DISPATCH_METHOD, 1, VT_UNKNOWN},
      {"GetSelectedPort", 6, DISPATCH_METHOD, 0, VT_UNKNOWN},
      {"GetCOMPortList", 7, DISPATCH_METHOD, 0, VT_UNKNOWN},
      {"AddPort", 8, DISPATCH_METHOD, 2, VT_HRESULT},
      {"RemovePort", 9, DISPATCH_METHOD, 1, VT_HRESULT},
      {"EnablePort", 10, DISPATCH_PROPERTYGET, 1, VT_I4},
      {"EnablePort", 10, DISPATCH_PROPERTYPUT, 2, VT_EMPTY},
      {"AppVersion", 11, DISPATCH_PROPERTYGET, 0, VT_HRESULT},
      {"StartOutgoingDiagConnection", 12, DISPATCH_METHOD, 3, VT_HRESULT},
      {"GetPortFromUid", 13, DISPATCH_METHOD, 2, VT_HRESULT},
  };
  std::vector<Member> members = Members(server.Get());
  ASSERT_EQ(members.size(), std::size(expected));
  for (size_t i = 0; i < members.size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(members[i].name, expected[i].name);
    EXPECT_EQ(members[i].id, expected[i].id);
    EXPECT_EQ(members[i].kind, expected[i].kind);
    EXPECT_EQ(members[i].args, expected[i].args);
    EXPECT_EQ(members[i].result, expected[i].result);
  }
}

TEST(ServerTypeInfo, GetPortRaisesTheConversionsOwnError) {
  CComObject<CAtmnServer>* raw = nullptr;
  ASSERT_EQ(CComObject<CAtmnServer>::CreateInstance(&raw), S_OK);
  ComPtr<IDispatch> server(raw);
  // An object converts to a string through its default member; the settings
  // object has none, so the conversion fails with "member not found".
  ComPtr<IDownloadSettings> settings;
  ASSERT_EQ(CreateDownloadSettings(settings.ReleaseAndGetAddressOf()), S_OK);
  Variant portId[] = {Variant::Dispatch(settings.Get())};
  DISPPARAMS params{portId, 1};
  Variant port;
  EXPECT_EQ(server->Invoke(kDispGetPort, DISPATCH_METHOD, &params, &port), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(port.vt(), VT_EMPTY);
}
