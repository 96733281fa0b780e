#include "flashers/download_lock.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <string>

#include "shell/runtime_folder.h"
#include "platform/timing.h"

namespace {

constexpr DWORD kPollMs = 100;

std::string LockPath() { return RuntimeFolder() + "/{4A74067F-8567-4246-90E7-34FCF3D57D0C}.lock"; }

}  // namespace

HRESULT CDownloadLock::Acquire() {
  if (held()) return S_OK;
  HRESULT hr = PrepareRuntimeFolder();
  if (FAILED(hr)) return hr;
  UniqueFd fd(::open(LockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
  if (!fd.valid()) return HresultFromLastErrno();
  for (;;) {
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) break;
    if (errno != EWOULDBLOCK && errno != EINTR) return HresultFromLastErrno();
    if (!WaitUnlessStopped(kPollMs)) return HRESULT_FROM_WIN32(ERROR_CANCELLED);
  }
  fd_ = std::move(fd);
  return S_OK;
}

void CDownloadLock::Release() { fd_.Reset(); }
