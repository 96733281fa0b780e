#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <cerrno>

#include "platform/unique_fd.h"

MappedFile::~MappedFile() { Close(); }

void MappedFile::Close() {
  if (data_) ::munmap(const_cast<std::uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

HRESULT MappedFile::Open(const std::string& path) {
  Close();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return HresultFromLastErrno();
  struct stat st{};
  if (::fstat(fd.get(), &st) != 0) return HresultFromLastErrno();
  if (!S_ISREG(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
  if (st.st_size == 0) return HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
  void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (p == MAP_FAILED) return HresultFromLastErrno();
  data_ = static_cast<const std::uint8_t*>(p);
  size_ = static_cast<std::uint64_t>(st.st_size);
  return S_OK;
}
