// A status sink that prints each text on its own line as it arrives and
// writes it to the log as a status line of the given device.
#pragma once
#include <cstdio>
#include <string>

#include "jobs/status_sink.h"
#include "platform/com/object.h"

class CPrintSink : public IQStatusReport, public CComObjectRoot {
 public:
  void Init(std::string deviceId, std::FILE* out);
  HRESULT InternalQueryInterface(REFIID iid, void** object);
  HRESULT NewStatus(LONG iId, const Bstr& status1, const Bstr& status2) override;

 private:
  std::string deviceId_;
  std::FILE* out_ = stdout;
  unsigned start_ = 0;
};
