#include "cli/print_sink.h"

#include "cli/text_output.h"
#include "platform/ticks.h"
#include "shell/log.h"

void CPrintSink::Init(std::string deviceId, std::FILE* out) {
  deviceId_ = std::move(deviceId);
  out_ = out;
  start_ = GetTickCount();
}

HRESULT CPrintSink::InternalQueryInterface(REFIID iid, void** object) {
  if (iid == IUnknown::kIid || iid == IQStatusReport::kIid) return ReturnInterface(static_cast<IQStatusReport*>(this), object);
  return E_NOINTERFACE;
}

HRESULT CPrintSink::NewStatus(LONG, const Bstr&, const Bstr& status2) {
  double elapsed = static_cast<std::int32_t>(GetTickCount() - start_) / 1000.0;
  WriteLog("%s\t%.2f\t%s", deviceId_.c_str(), elapsed, status2.c_str());
  std::fprintf(out_, "%s\n", PrintableText(status2.str()).c_str());
  std::fflush(out_);
  return S_OK;
}
