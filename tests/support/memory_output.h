// A FILE* whose output a test reads back.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <string>

class MemoryOutput {
 public:
  MemoryOutput() : file_(::open_memstream(&buffer_, &size_)) {}
  ~MemoryOutput() {
    std::fclose(file_);
    std::free(buffer_);
  }
  MemoryOutput(const MemoryOutput&) = delete;
  MemoryOutput& operator=(const MemoryOutput&) = delete;
  std::FILE* file() { return file_; }
  std::string Text() {
    std::fflush(file_);
    return std::string(buffer_, size_);
  }

 private:
  char* buffer_ = nullptr;
  size_t size_ = 0;
  std::FILE* file_;
};
