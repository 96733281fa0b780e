#include "cli/print_sink.h"

#include "cli/output_status.h"
#include "cli/text_output.h"
#include "platform/error_text.h"
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
  if (out_) WriteOutput(out_, PrintableText(status2.str()) + "\n");  // a lost output shows in the exit status
  std::lock_guard guard(lock_);
  newest_ = status2.str();
  return S_OK;
}

std::string CPrintSink::newest() const {
  std::lock_guard guard(lock_);
  return newest_;
}

void PrintCommandFailure(const char* command, HRESULT hr, const std::string& newest) {
  unsigned code = static_cast<unsigned>(hr);
  std::string where = newest.empty() ? "" : ": " + PrintableText(newest);
  std::fprintf(stderr, "vantor-cli %s: %s(0x%08x%s)\n", command, PrintableText(GetErrorText(hr)).c_str(), code,
               where.c_str());
}
