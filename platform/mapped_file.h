// A whole file mapped read-only for the life of the object. An empty file
// cannot be mapped: Open fails with HRESULT_FROM_WIN32(ERROR_FILE_INVALID).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/hresult.h"

class MappedFile {
 public:
  MappedFile() = default;
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  HRESULT Open(const std::string& path);
  const std::uint8_t* data() const { return data_; }
  std::uint64_t size() const { return size_; }

 private:
  void Close();
  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
};
