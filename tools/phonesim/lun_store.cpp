#include "tools/phonesim/lun_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace phonesim {

LunStore::~LunStore() {
  for (int fd : fds_) ::close(fd);
}

bool LunStore::Open(const std::string& prefix, unsigned count, std::uint64_t bytes, std::string* error) {
  prefix_ = prefix;
  bytes_ = bytes;
  for (unsigned lun = 0; lun < count; ++lun) {
    std::string path = PathOf(lun);
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
      if (error) *error = "cannot make " + path + ": " + std::strerror(errno);
      if (fd >= 0) ::close(fd);
      return false;
    }
    fds_.push_back(fd);
  }
  return true;
}

bool LunStore::InRange(unsigned lun, std::uint64_t offset, std::uint64_t size) const {
  return lun < fds_.size() && offset <= bytes_ && size <= bytes_ - offset;
}

namespace {

// pread or pwrite of a whole range, going on after a short transfer.
template <class Transfer, class Byte>
bool WholeRange(Transfer transfer, int fd, Byte* data, std::size_t size, std::uint64_t offset) {
  while (size > 0) {
    ssize_t n = transfer(fd, data, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<std::uint64_t>(n);
  }
  return true;
}

}  // namespace

bool LunStore::Write(unsigned lun, std::uint64_t offset, const std::uint8_t* data, std::size_t size) {
  return InRange(lun, offset, size) && WholeRange(::pwrite, fds_[lun], data, size, offset);
}

bool LunStore::Read(unsigned lun, std::uint64_t offset, std::uint8_t* data, std::size_t size) const {
  return InRange(lun, offset, size) && WholeRange(::pread, fds_[lun], data, size, offset);
}

bool LunStore::Erase(unsigned lun, std::uint64_t offset, std::uint64_t size) {
  if (!InRange(lun, offset, size)) return false;
  if (::fallocate(fds_[lun], FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                  static_cast<off_t>(size)) == 0)
    return true;
  Bytes zeros(1 << 16, 0);
  for (std::uint64_t done = 0; done < size;) {
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), size - done));
    if (!Write(lun, offset + done, zeros.data(), n)) return false;
    done += n;
  }
  return true;
}

}  // namespace phonesim
