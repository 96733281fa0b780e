// The boot image of a streaming download, open for the length of the
// download and read block by block as it goes out: a file that shrinks or is
// replaced under a running download fails that download with a read error,
// never the process.
#pragma once
#include <cstdint>
#include <string>

#include "platform/hresult.h"
#include "platform/unique_fd.h"

class BootImage {
 public:
  // The open's error; E_INVALIDARG for anything but a regular file,
  // ERROR_FILE_INVALID for an empty one, ERROR_FILE_TOO_LARGE past a 32-bit
  // size.
  HRESULT Open(const std::string& path);
  std::uint32_t size() const { return size_; }
  // Exactly length bytes at offset: HRESULT_FROM_WIN32(ERROR_HANDLE_EOF) when
  // the file has become shorter, the read's error otherwise.
  HRESULT Read(std::uint32_t offset, unsigned char* data, std::uint32_t length) const;

 private:
  UniqueFd file_;
  std::uint32_t size_ = 0;
};
