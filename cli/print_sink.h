// A status sink that prints each text on its own line as it arrives and
// writes it to the log as a status line of the given device. It keeps the
// newest text, which tells where a failed run stopped.
#pragma once
#include <cstdio>
#include <mutex>
#include <string>

#include "jobs/status_sink.h"
#include "platform/com/object.h"

class CPrintSink : public IQStatusReport, public CComObjectRoot {
 public:
  // out may be null: the texts then go to the log only.
  void Init(std::string deviceId, std::FILE* out);
  HRESULT InternalQueryInterface(REFIID iid, void** object);
  HRESULT NewStatus(LONG iId, const Bstr& status1, const Bstr& status2) override;
  std::string newest() const;

 private:
  std::string deviceId_;
  std::FILE* out_ = stdout;
  unsigned start_ = 0;
  mutable std::mutex lock_;  // guards newest_
  std::string newest_;
};

// The failure of a command on stderr: the system's text and the code, with
// the newest status text as a row shows it.
void PrintCommandFailure(const char* command, HRESULT hr, const std::string& newest);
