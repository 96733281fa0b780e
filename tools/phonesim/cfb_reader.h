// A small reader of compound files (the "structured storage" container):
// the header, the sector allocation table and its extension sectors, the
// directory, the mini stream for short streams. Everything in the file is
// untrusted: every sector number, chain, size and tree link is checked, so
// a damaged file is refused, never followed out of bounds or in circles.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/phonesim/sim_frame.h"

namespace phonesim {

class CompoundFile {
 public:
  struct Entry {
    std::u16string name;
    std::uint8_t type = 0;  // 1 storage, 2 stream, 5 root
    std::uint32_t left = 0, right = 0, child = 0, start = 0;
    std::uint64_t size = 0;
  };
  static constexpr std::uint8_t kStorage = 1, kStream = 2, kRoot = 5;

  // Nullopt (and the reason in *error) when the container is malformed.
  static std::optional<CompoundFile> Parse(Bytes file, std::string* error);

  // Entries directly inside the storage or root at `parent` (0 = the root).
  std::vector<std::uint32_t> Children(std::uint32_t parent) const;
  // The child of `parent` named exactly `name`, if there is one.
  std::optional<std::uint32_t> Child(std::uint32_t parent, const std::string& name) const;
  const Entry& entry(std::uint32_t id) const { return entries_[id]; }
  // The content of a stream entry; nullopt when its chain is broken.
  std::optional<Bytes> Read(std::uint32_t id) const;

 private:
  std::optional<Bytes> Chain(std::uint32_t start, std::uint64_t size, bool mini) const;
  bool LoadFat(std::string* error);
  bool LoadDirectory(std::string* error);

  Bytes file_;
  std::uint32_t sectorSize_ = 512;
  std::uint32_t miniCutoff_ = 4096;
  std::vector<std::uint32_t> fat_, miniFat_;
  Bytes miniStream_;
  std::vector<Entry> entries_;
};

}  // namespace phonesim
