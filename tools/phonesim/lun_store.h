// A Firehose phone's storage: one sparse file per LUN (physical partition),
// written and read at byte offsets.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/phonesim/sim_frame.h"

namespace phonesim {

class LunStore {
 public:
  LunStore() = default;
  ~LunStore();
  LunStore(const LunStore&) = delete;
  LunStore& operator=(const LunStore&) = delete;

  // Creates (or opens, keeping their content) `count` files "<prefix>L.img"
  // of `bytes` each; false with the reason.
  bool Open(const std::string& prefix, unsigned count, std::uint64_t bytes, std::string* error);

  unsigned count() const { return static_cast<unsigned>(fds_.size()); }
  std::uint64_t bytes() const { return bytes_; }
  std::string PathOf(unsigned lun) const { return prefix_ + std::to_string(lun) + ".img"; }

  bool Write(unsigned lun, std::uint64_t offset, const std::uint8_t* data, std::size_t size);
  bool Read(unsigned lun, std::uint64_t offset, std::uint8_t* data, std::size_t size) const;
  // Zeros a range (holes punched where the file system allows).
  bool Erase(unsigned lun, std::uint64_t offset, std::uint64_t size);

 private:
  bool InRange(unsigned lun, std::uint64_t offset, std::uint64_t size) const;

  std::string prefix_;
  std::vector<int> fds_;
  std::uint64_t bytes_ = 0;
};

}  // namespace phonesim
