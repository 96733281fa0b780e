#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

HRESULT OpenRegularFile(const std::string& path, UniqueFd* file, std::uint64_t* size) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!fd.valid()) return HresultFromLastErrno();
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return HresultFromLastErrno();
  if (!S_ISREG(st.st_mode)) return E_INVALIDARG;
  *size = static_cast<std::uint64_t>(st.st_size);
  *file = std::move(fd);
  return S_OK;
}

HRESULT ReadFileAt(int file, void* data, size_t size, std::uint64_t offset) {
  auto* bytes = static_cast<unsigned char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(file, bytes + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HresultFromLastErrno();
    if (n == 0) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    done += static_cast<size_t>(n);
  }
  return S_OK;
}
