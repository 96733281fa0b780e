// A status sink that keeps the texts it is sent, in order; it answers
// IQStatusReport, so servers can register it. It lives on the test's stack:
// reference counting never deletes it.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "jobs/status_sink.h"

struct StatusList : IQStatusReport {
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (iid != IUnknown::kIid && iid != IQStatusReport::kIid) return E_NOINTERFACE;
    *object = static_cast<IQStatusReport*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return 1; }
  ULONG Release() override { return 1; }
  HRESULT NewStatus(LONG, const Bstr&, const Bstr& text) override {
    std::lock_guard l(m);
    texts.push_back(text.str());
    return S_OK;
  }
  // How many texts begin with prefix.
  int Count(const std::string& prefix) {
    std::lock_guard l(m);
    int n = 0;
    for (const std::string& t : texts) n += t.rfind(prefix, 0) == 0;
    return n;
  }
  std::vector<std::string> Starting(const std::string& prefix) {
    std::lock_guard l(m);
    std::vector<std::string> out;
    for (const std::string& t : texts)
      if (t.rfind(prefix, 0) == 0) out.push_back(t);
    return out;
  }
  std::mutex m;
  std::vector<std::string> texts;
};
