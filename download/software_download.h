// The software-download object of one phone: its status sink property,
// DownloadBySettings (the whole emergency download), and BackupNV and
// RestoreNV (the NV service); every other member of IQSoftwareDownload
// answers E_NOTIMPL.
#pragma once
#include <string>

#include "download/qpst_interfaces.h"
#include "jobs/status_sink.h"
#include "platform/com/marshal.h"
#include "platform/com/object.h"

#define VANTOR_NOT_IMPLEMENTED(name) \
  HRESULT name(Variant*) override { return E_NOTIMPL; }

class CSoftwareDownload : public CDispatchFromTable<CSoftwareDownload, IQSoftwareDownload>, public CComObjectRoot {
 public:
  // The object for the phone of that device identifier; E_INVALIDARG when
  // discovery knows no location index for it.
  static HRESULT CreateInstance(const std::string& deviceId, IQSoftwareDownload** out);

  HRESULT FinalConstruct();
  ~CSoftwareDownload() override;
  HRESULT InternalQueryInterface(REFIID iid, void** object);

  // Registers the sink (an object answering IQStatusReport) in the global
  // interface table in place of the previous one; another object clears it.
  HRESULT put_StatusReport(IUnknown* sink) override;
  HRESULT DownloadBySettings(IUnknown* settings) override;

  VANTOR_NOT_IMPLEMENTED(put_SetServer)
  VANTOR_NOT_IMPLEMENTED(put_SetPhone)
  VANTOR_NOT_IMPLEMENTED(DownloadPhoneImage)
  VANTOR_NOT_IMPLEMENTED(DownloadBootImage)
  // The phone's NV items into a .qcn file, and back, through the NV service
  // on the phone's diagnostic port (the device identifier).
  HRESULT BackupNV(const Variant& backupNVFilePath, const Variant& spc) override;
  HRESULT RestoreNV(const Variant& backupNVFilePath, const Variant& spc, const Variant& allowEsnMismatch) override;
  VANTOR_NOT_IMPLEMENTED(GetCompletionStatus)
  VANTOR_NOT_IMPLEMENTED(GetErrorMessage)
  VANTOR_NOT_IMPLEMENTED(DownloadPhoneAndBootImage)
  VANTOR_NOT_IMPLEMENTED(get_NANDFlash)
  VANTOR_NOT_IMPLEMENTED(MultiImageDownload)
  VANTOR_NOT_IMPLEMENTED(OTPImageDownload)
  VANTOR_NOT_IMPLEMENTED(DownloadCEFS_Image)
  VANTOR_NOT_IMPLEMENTED(GetMI_CompletedStatus)
  VANTOR_NOT_IMPLEMENTED(OTPDownloadAMSS)
  VANTOR_NOT_IMPLEMENTED(OTPDownloadOEMSBL)
  VANTOR_NOT_IMPLEMENTED(get_ImageDownloadTimeout)
  VANTOR_NOT_IMPLEMENTED(put_ImageDownloadTimeout)
  VANTOR_NOT_IMPLEMENTED(FactoryImageDownload)
  VANTOR_NOT_IMPLEMENTED(DownloadCEFS_ImageAlternate)
  VANTOR_NOT_IMPLEMENTED(get_RestorePrlMode)
  VANTOR_NOT_IMPLEMENTED(put_RestorePrlMode)
  VANTOR_NOT_IMPLEMENTED(get_DownloadSettings)

  DWORD locationIndex() const { return index_; }

 private:
  friend class CDispatchFromTable<CSoftwareDownload, IQSoftwareDownload>;
  static const DispatchTable& Table();
  // The sink registered by put_StatusReport, or null.
  HRESULT Sink(ComPtr<IQStatusReport>* sink, const char* operation);
  std::string deviceId_;
  DWORD index_ = 0;
  CAggregatedMarshaler marshaler_;
  DWORD sinkCookie_ = 0;
};
