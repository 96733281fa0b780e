// The automation server's interfaces under their published identifiers, so
// the program's own objects and an outside server answer alike. Members are
// declared in slot order. Only the members the jobs call have known argument
// lists; every other member takes one VARIANT pointer as a stand-in and, in
// this program, answers E_NOTIMPL.
#pragma once
#include "download/download_settings.h"
#include "platform/com/dispatch.h"

inline constexpr CLSID CLSID_AtmnServer = MakeGuid("{BC600A24-8927-4696-9A41-35187EDDDD19}");
inline constexpr CLSID CLSID_QPortProxy = MakeGuid("{5D92AA93-6A0E-46E3-AA86-61F168ABE9C8}");
inline constexpr IID IID_IAtmnServer = MakeGuid("{0328EE19-9850-4FB1-AFB0-9A8A54DF0605}");

// Dispatch identifiers of IAtmnServer.
enum : DISPID {
  kDispGetPortList = 1,
  kDispShowWindow = 2,
  kDispHideWindow = 3,
  kDispQuit = 4,
  kDispGetPort = 5,
  kDispGetSelectedPort = 6,
  kDispGetCOMPortList = 7,
  kDispAddPort = 8,
  kDispRemovePort = 9,
  kDispEnablePort = 10,
  kDispAppVersion = 11,
  kDispStartOutgoingDiagConnection = 12,
  kDispGetPortFromUid = 13,
};

// The PhoneStatus value of a phone ready for use.
constexpr LONG kPhoneReady = 5;

#define VANTOR_STAND_IN(name) virtual HRESULT name(Variant* io) = 0

struct IQPortProxy : IDispatch {
  static constexpr IID kIid = MakeGuid("{64F72B9C-B290-40C8-AF2F-AD28F0814017}");
  VANTOR_STAND_IN(get_QPSTPhone);       // slot 7
  VANTOR_STAND_IN(put_StatusReport);
  VANTOR_STAND_IN(get_EFS);
  VANTOR_STAND_IN(Reset);
  virtual HRESULT Offline() = 0;        // slot 11: takes the phone offline
  VANTOR_STAND_IN(SendSPC);
  VANTOR_STAND_IN(get_ESN);
  VANTOR_STAND_IN(get_IsUSB);
  VANTOR_STAND_IN(get_PhoneMode);
  virtual HRESULT get_PhoneStatus(Variant* status) = 0;  // slot 16
  VANTOR_STAND_IN(get_PortId);
  VANTOR_STAND_IN(get_PortLabel);
  VANTOR_STAND_IN(get_PortName);
  VANTOR_STAND_IN(get_QPSTPortConfig);
  VANTOR_STAND_IN(FlashImage);
  VANTOR_STAND_IN(SendCommand);
  VANTOR_STAND_IN(get_ModelNumber);
  VANTOR_STAND_IN(get_BuildId);
  VANTOR_STAND_IN(get_IMEI);
  VANTOR_STAND_IN(LockPhone);
  VANTOR_STAND_IN(UnlockPhone);
  VANTOR_STAND_IN(get_MEID);
  virtual HRESULT get_SoftwareDownload(IUnknown** download) = 0;  // slot 29
  VANTOR_STAND_IN(get_QPSTServer);
  VANTOR_STAND_IN(Provisioning);
  VANTOR_STAND_IN(LockPhoneWithKey);
  VANTOR_STAND_IN(UnlockPhoneWithKey);
  VANTOR_STAND_IN(get_PhoneLockKey);
  VANTOR_STAND_IN(SendStreamCloseLog);
  VANTOR_STAND_IN(get_CommandTimeout);
  VANTOR_STAND_IN(put_CommandTimeout);
  VANTOR_STAND_IN(get_TraceLevel);
  VANTOR_STAND_IN(put_TraceLevel);
  VANTOR_STAND_IN(Annotate);
  VANTOR_STAND_IN(get_PhoneModeStateChange);
  VANTOR_STAND_IN(put_PhoneModeStateChange);
  VANTOR_STAND_IN(MemoryDebug);
  VANTOR_STAND_IN(get_IPAddress);
  VANTOR_STAND_IN(GetEFSSubsystem);
  VANTOR_STAND_IN(GetPhoneUid);         // slot 46

 protected:
  ~IQPortProxy() = default;
};

struct IQSoftwareDownload : IDispatch {
  static constexpr IID kIid = MakeGuid("{18674743-B41F-43ED-AF4E-D4AC63041243}");
  VANTOR_STAND_IN(put_SetServer);
  VANTOR_STAND_IN(put_SetPhone);
  virtual HRESULT put_StatusReport(IUnknown* sink) = 0;
  VANTOR_STAND_IN(DownloadPhoneImage);
  VANTOR_STAND_IN(DownloadBootImage);
  virtual HRESULT BackupNV(const Variant& backupNVFilePath, const Variant& spc) = 0;  // slot 12
  virtual HRESULT RestoreNV(const Variant& backupNVFilePath, const Variant& spc, const Variant& allowEsnMismatch) = 0;
  VANTOR_STAND_IN(GetCompletionStatus);
  VANTOR_STAND_IN(GetErrorMessage);
  VANTOR_STAND_IN(DownloadPhoneAndBootImage);
  VANTOR_STAND_IN(get_NANDFlash);
  VANTOR_STAND_IN(MultiImageDownload);
  VANTOR_STAND_IN(OTPImageDownload);
  VANTOR_STAND_IN(DownloadCEFS_Image);
  VANTOR_STAND_IN(GetMI_CompletedStatus);
  VANTOR_STAND_IN(OTPDownloadAMSS);
  VANTOR_STAND_IN(OTPDownloadOEMSBL);
  VANTOR_STAND_IN(get_ImageDownloadTimeout);
  VANTOR_STAND_IN(put_ImageDownloadTimeout);
  VANTOR_STAND_IN(FactoryImageDownload);
  VANTOR_STAND_IN(DownloadCEFS_ImageAlternate);
  VANTOR_STAND_IN(get_RestorePrlMode);
  VANTOR_STAND_IN(put_RestorePrlMode);
  VANTOR_STAND_IN(get_DownloadSettings);
  virtual HRESULT DownloadBySettings(IUnknown* settings) = 0;

 protected:
  ~IQSoftwareDownload() = default;
};

#undef VANTOR_STAND_IN
