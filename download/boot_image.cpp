#include "download/boot_image.h"

#include "platform/regular_file.h"

HRESULT BootImage::Open(const std::string& path) {
  UniqueFd file;
  std::uint64_t size = 0;
  HRESULT hr = OpenRegularFile(path, &file, &size);
  if (FAILED(hr)) return hr;
  if (size == 0) return HRESULT_FROM_WIN32(ERROR_FILE_INVALID);
  if (size > 0xFFFFFFFFull) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
  file_ = std::move(file);
  size_ = static_cast<std::uint32_t>(size);
  return S_OK;
}

HRESULT BootImage::Read(std::uint32_t offset, unsigned char* data, std::uint32_t length) const {
  return ReadFileAt(file_.get(), data, length, offset);
}
