#include "shell/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/format.h"
#include "shell/log.h"

namespace {

const char* SessionFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && *runtime ? runtime : nullptr;
}

std::string TemporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

std::string RuntimeFolder() {
  if (const char* session = SessionFolder()) return session;
  return Format("%s/vantor-%u", TemporaryFolder().c_str(), static_cast<unsigned>(::geteuid()));
}

HRESULT PrepareRuntimeFolder() {
  if (SessionFolder()) return S_OK;
  std::string folder = RuntimeFolder();
  struct stat st {};
  HRESULT hr = S_OK;
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    hr = HresultFromLastErrno();
  } else if (::lstat(folder.c_str(), &st) != 0) {
    hr = HresultFromLastErrno();
  } else if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    // Made by someone else, or open to others: not a place for this user's locks.
    WriteLog("%s is not this user's private folder (mode %03o, owner %u): refused", folder.c_str(),
             static_cast<unsigned>(st.st_mode & 07777), static_cast<unsigned>(st.st_uid));
    hr = E_ACCESSDENIED;
  }
  TraceResult(hr, "PrepareRuntimeFolder", __LINE__);
  return hr;
}
