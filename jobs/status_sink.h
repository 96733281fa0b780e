// The status sink interface that download servers call with progress text.
#pragma once
#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "platform/com/unknown.h"

// From the program's own type library "VantorLib" ("Vantor 1.0 Type
// Library"), flagged ole-automation compatible.
struct IQStatusReport : IUnknown {
  static constexpr IID kIid = MakeGuid("{0F18F6D6-FE31-4CD7-A71A-3C69B2B97E9A}");
  virtual HRESULT NewStatus(LONG iId, const Bstr& bstrStatus1, const Bstr& bstrStatus2) = 0;

 protected:
  ~IQStatusReport() = default;
};

// The event id by which a download names the protocol that flashes the
// phone (the first text); the second text is an ordinary status text.
inline constexpr LONG kProtocolStatusEvent = 4430;

// The type library's class that implements IQStatusReport; no class object
// is registered for it.
inline constexpr CLSID CLSID_QStatusReport = MakeGuid("{1B07F820-5867-462E-9840-A7E80E87947C}");

// A sink bound to one job. The job detaches every sink it handed out when its
// work ends, so a server that keeps a sink longer never reaches the job.
class CJobSink : public IQStatusReport, public CComObjectRoot {
 public:
  virtual void DetachJob() = 0;
};
