// The program's own automation server objects, answering the outside
// server's identifiers: AtmnServer (CAtmnServer), its port objects
// (CPortProxy) and the download parameter set (CDownloadSettings). With their
// class objects registered, the jobs' CoCreateInstance reaches them and an
// emergency download runs inside the program.
#pragma once
#include <string>
#include <vector>

#include "download/qpst_interfaces.h"
#include "download/software_download.h"
#include "platform/com/marshal.h"
#include "platform/com/object.h"

class CPortProxy : public CDispatchFromTable<CPortProxy, IQPortProxy>, public CComObjectRoot {
 public:
  static HRESULT CreateInstance(const std::string& portName, IQPortProxy** out);

  HRESULT FinalConstruct();
  HRESULT InternalQueryInterface(REFIID iid, void** object);

  // Always ready (5).
  HRESULT get_PhoneStatus(Variant* status) override;
  // A new software-download object for this port, as IUnknown.
  HRESULT get_SoftwareDownload(IUnknown** download) override;

  VANTOR_NOT_IMPLEMENTED(get_QPSTPhone)
  VANTOR_NOT_IMPLEMENTED(put_StatusReport)
  VANTOR_NOT_IMPLEMENTED(get_EFS)
  VANTOR_NOT_IMPLEMENTED(Reset)
  // Takes the phone on this port offline through the NV service.
  HRESULT Offline() override;
  VANTOR_NOT_IMPLEMENTED(SendSPC)
  VANTOR_NOT_IMPLEMENTED(get_ESN)
  VANTOR_NOT_IMPLEMENTED(get_IsUSB)
  VANTOR_NOT_IMPLEMENTED(get_PhoneMode)
  VANTOR_NOT_IMPLEMENTED(get_PortId)
  VANTOR_NOT_IMPLEMENTED(get_PortLabel)
  VANTOR_NOT_IMPLEMENTED(get_PortName)
  VANTOR_NOT_IMPLEMENTED(get_QPSTPortConfig)
  VANTOR_NOT_IMPLEMENTED(FlashImage)
  VANTOR_NOT_IMPLEMENTED(SendCommand)
  VANTOR_NOT_IMPLEMENTED(get_ModelNumber)
  VANTOR_NOT_IMPLEMENTED(get_BuildId)
  VANTOR_NOT_IMPLEMENTED(get_IMEI)
  VANTOR_NOT_IMPLEMENTED(LockPhone)
  VANTOR_NOT_IMPLEMENTED(UnlockPhone)
  VANTOR_NOT_IMPLEMENTED(get_MEID)
  VANTOR_NOT_IMPLEMENTED(get_QPSTServer)
  VANTOR_NOT_IMPLEMENTED(Provisioning)
  VANTOR_NOT_IMPLEMENTED(LockPhoneWithKey)
  VANTOR_NOT_IMPLEMENTED(UnlockPhoneWithKey)
  VANTOR_NOT_IMPLEMENTED(get_PhoneLockKey)
  VANTOR_NOT_IMPLEMENTED(SendStreamCloseLog)
  VANTOR_NOT_IMPLEMENTED(get_CommandTimeout)
  VANTOR_NOT_IMPLEMENTED(put_CommandTimeout)
  VANTOR_NOT_IMPLEMENTED(get_TraceLevel)
  VANTOR_NOT_IMPLEMENTED(put_TraceLevel)
  VANTOR_NOT_IMPLEMENTED(Annotate)
  VANTOR_NOT_IMPLEMENTED(get_PhoneModeStateChange)
  VANTOR_NOT_IMPLEMENTED(put_PhoneModeStateChange)
  VANTOR_NOT_IMPLEMENTED(MemoryDebug)
  VANTOR_NOT_IMPLEMENTED(get_IPAddress)
  VANTOR_NOT_IMPLEMENTED(GetEFSSubsystem)
  VANTOR_NOT_IMPLEMENTED(GetPhoneUid)

 private:
  friend class CDispatchFromTable<CPortProxy, IQPortProxy>;
  static const DispatchTable& Table();
  std::string portName_;
  CAggregatedMarshaler marshaler_;
};

// The server: a dispatch interface (IAtmnServer) whose GetPort hands out port
// objects; Quit, AddPort and RemovePort do nothing; any other dispatch
// identifier answers S_OK with no result.
class CAtmnServer : public CDispatchFromTable<CAtmnServer, IDispatch>, public CComObjectRoot {
 public:
  HRESULT FinalConstruct();
  HRESULT InternalQueryInterface(REFIID iid, void** object);

  HRESULT Invoke(DISPID id, WORD flags, DISPPARAMS* params, Variant* result) override;

 private:
  friend class CDispatchFromTable<CAtmnServer, IDispatch>;
  static const DispatchTable& Table();
  CAggregatedMarshaler marshaler_;
};

// Registers the class objects of AtmnServer and DownloadSettings (suspended
// until CoResumeClassObjects) for local-server creation; their cookies are
// appended to *cookies.
HRESULT RegisterServerObjects(std::vector<DWORD>* cookies);
void RevokeServerObjects(std::vector<DWORD>* cookies);
