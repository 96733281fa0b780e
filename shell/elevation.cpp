#include "shell/elevation.h"

#include <unistd.h>

#include <string>

#include "platform/executable.h"
#include "platform/registry/registry.h"
#include "process/command_line.h"
#include "process/executor.h"
#include "shell/log.h"
#include "shell/settings.h"

namespace {

// pkexec's own exit statuses: the user dismissed the dialog, or was not
// authorised. Any other status is the installing program's.
constexpr int kDismissed = 126;
constexpr int kNotAuthorized = 127;

HRESULT Elevate(const std::string& folder) {
  // The folder and the program travel as positional parameters, never as
  // shell text.
  std::string command = "pkexec /bin/sh -c " + QuoteArgument("cd \"$1\" && exec \"$2\" /RegServer") + " sh " +
                        QuoteArgument(folder) + " " + QuoteArgument(ExecutablePath());
  HRESULT status = ExecuteCommand(command);
  if (FAILED(status)) return status;
  if (status == kDismissed || status == kNotAuthorized) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  // The installing start ends with 0 whatever its steps did: the marker
  // tells whether it installed.
  return IsInstalled() ? S_OK : HRESULT_FROM_WIN32(ERROR_INSTALL_FAILURE);
}

}  // namespace

HRESULT InstallAsRootWhenNeeded() {
  if (IsInstalled() || RegCheckWritable(HKEY_LOCAL_MACHINE) == ERROR_SUCCESS) return S_FALSE;
  char folder[4096];
  HRESULT hr = ::getcwd(folder, sizeof folder) ? Elevate(folder) : HresultFromLastErrno();
  TraceResult(hr, "InstallAsRootWhenNeeded", __LINE__);
  return hr;
}
