#include "tools/phonesim/cfb_reader.h"

#include <algorithm>
#include <cstring>
#include <set>

namespace phonesim {

namespace {

constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
constexpr std::uint32_t kMiniSector = 64;
constexpr std::size_t kEntrySize = 128;
const std::uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

std::uint16_t U16(const Bytes& b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8); }
std::uint32_t U32(const Bytes& b, std::size_t at) {
  return b[at] | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 | std::uint32_t{b[at + 3]} << 24;
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

}  // namespace

std::optional<CompoundFile> CompoundFile::Parse(Bytes file, std::string* error) {
  CompoundFile cf;
  cf.file_ = std::move(file);
  const Bytes& f = cf.file_;
  if (f.size() < 512 || std::memcmp(f.data(), kSignature, 8) != 0) {
    Fail(error, "not a compound file");
    return std::nullopt;
  }
  std::uint16_t shift = U16(f, 0x1E);
  if (U16(f, 0x1C) != 0xFFFE || (shift != 9 && shift != 12) || U16(f, 0x20) != 6) {
    Fail(error, "unsupported compound file header");
    return std::nullopt;
  }
  cf.sectorSize_ = 1u << shift;
  cf.miniCutoff_ = U32(f, 0x38);
  if (!cf.LoadFat(error) || !cf.LoadDirectory(error)) return std::nullopt;
  return cf;
}

bool CompoundFile::LoadFat(std::string* error) {
  const Bytes& f = file_;
  std::uint64_t sectors = f.size() / sectorSize_;  // an upper bound for every count and number
  std::uint32_t fatCount = U32(f, 0x2C);
  if (fatCount == 0 || fatCount > sectors) return Fail(error, "bad allocation table size");
  std::vector<std::uint32_t> fatSectors;
  for (std::uint32_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i) fatSectors.push_back(U32(f, 0x4C + 4 * i));
  std::uint32_t difat = U32(f, 0x44);
  std::set<std::uint32_t> seen;
  while (fatSectors.size() < fatCount) {
    std::uint64_t at = (std::uint64_t{difat} + 1) * sectorSize_;
    if (difat >= sectors || at + sectorSize_ > f.size() || !seen.insert(difat).second)
      return Fail(error, "broken allocation table chain");
    std::uint32_t perSector = sectorSize_ / 4 - 1;
    for (std::uint32_t i = 0; i < perSector && fatSectors.size() < fatCount; ++i)
      fatSectors.push_back(U32(f, static_cast<std::size_t>(at) + 4 * i));
    difat = U32(f, static_cast<std::size_t>(at) + 4 * perSector);
  }
  for (std::uint32_t s : fatSectors) {
    std::uint64_t at = (std::uint64_t{s} + 1) * sectorSize_;
    if (s >= sectors || at + sectorSize_ > f.size()) return Fail(error, "allocation table outside the file");
    for (std::uint32_t i = 0; i < sectorSize_ / 4; ++i) fat_.push_back(U32(f, static_cast<std::size_t>(at) + 4 * i));
  }
  return true;
}

// Follows a chain of sectors (or mini sectors) for `size` bytes; a size of
// UINT64_MAX reads to the end of the chain.
std::optional<Bytes> CompoundFile::Chain(std::uint32_t start, std::uint64_t size, bool mini) const {
  const std::vector<std::uint32_t>& table = mini ? miniFat_ : fat_;
  const Bytes& source = mini ? miniStream_ : file_;
  std::uint32_t unit = mini ? kMiniSector : sectorSize_;
  bool toEnd = size == UINT64_MAX;
  if (!toEnd && size > source.size()) return std::nullopt;
  Bytes out;
  std::vector<bool> visited(table.size());
  for (std::uint32_t sector = start; toEnd ? sector != kEndOfChain : out.size() < size; sector = table[sector]) {
    if (sector >= table.size() || visited[sector]) return std::nullopt;  // out of range, or a loop
    visited[sector] = true;
    std::uint64_t at = mini ? std::uint64_t{sector} * unit : (std::uint64_t{sector} + 1) * unit;
    if (at >= source.size()) return std::nullopt;
    std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(unit, source.size() - at));
    out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(at),
               source.begin() + static_cast<std::ptrdiff_t>(at + take));
    out.resize(out.size() + (unit - take), 0);  // a last sector cut short by the file's end
  }
  if (!toEnd) out.resize(static_cast<std::size_t>(size));
  return out;
}

bool CompoundFile::LoadDirectory(std::string* error) {
  const Bytes& f = file_;
  bool version3 = U16(f, 0x1A) == 3;
  std::optional<Bytes> dir = Chain(U32(f, 0x30), UINT64_MAX, false);
  if (!dir || dir->size() < kEntrySize) return Fail(error, "broken directory");
  for (std::size_t at = 0; at + kEntrySize <= dir->size(); at += kEntrySize) {
    Entry e;
    std::uint16_t nameBytes = std::min<std::uint16_t>(U16(*dir, at + 0x40), 64);
    for (std::size_t i = 0; i + 1 < nameBytes; i += 2) {
      char16_t c = static_cast<char16_t>(U16(*dir, at + i));
      if (c == 0) break;
      e.name.push_back(c);
    }
    e.type = (*dir)[at + 0x42];
    e.left = U32(*dir, at + 0x44);
    e.right = U32(*dir, at + 0x48);
    e.child = U32(*dir, at + 0x4C);
    e.start = U32(*dir, at + 0x74);
    e.size = version3 ? U32(*dir, at + 0x78) : U32(*dir, at + 0x78) | std::uint64_t{U32(*dir, at + 0x7C)} << 32;
    entries_.push_back(std::move(e));
  }
  if (entries_[0].type != kRoot) return Fail(error, "no root entry");
  if (entries_[0].size > 0) {
    std::optional<Bytes> mini = Chain(entries_[0].start, entries_[0].size, false);
    if (!mini) return Fail(error, "broken mini stream");
    miniStream_ = std::move(*mini);
  }
  std::uint32_t miniFatStart = U32(f, 0x3C);
  if (U32(f, 0x40) > 0 && miniFatStart != kEndOfChain) {
    std::optional<Bytes> table = Chain(miniFatStart, UINT64_MAX, false);
    if (!table) return Fail(error, "broken mini allocation table");
    for (std::size_t at = 0; at + 4 <= table->size(); at += 4) miniFat_.push_back(U32(*table, at));
  }
  return true;
}

std::vector<std::uint32_t> CompoundFile::Children(std::uint32_t parent) const {
  std::vector<std::uint32_t> found;
  if (parent >= entries_.size()) return found;
  std::set<std::uint32_t> seen;
  std::vector<std::uint32_t> todo{entries_[parent].child};
  while (!todo.empty()) {
    std::uint32_t id = todo.back();
    todo.pop_back();
    if (id == kNoEntry || id >= entries_.size() || id == 0 || !seen.insert(id).second) continue;
    const Entry& e = entries_[id];
    if (e.type == kStorage || e.type == kStream) found.push_back(id);
    todo.push_back(e.left);
    todo.push_back(e.right);
  }
  return found;
}

std::optional<std::uint32_t> CompoundFile::Child(std::uint32_t parent, const std::string& name) const {
  std::u16string wanted(name.begin(), name.end());
  for (std::uint32_t id : Children(parent)) {
    if (entries_[id].name == wanted) return id;
  }
  return std::nullopt;
}

std::optional<Bytes> CompoundFile::Read(std::uint32_t id) const {
  if (id >= entries_.size() || entries_[id].type != kStream) return std::nullopt;
  const Entry& e = entries_[id];
  if (e.size == 0) return Bytes{};
  return Chain(e.start, e.size, e.size < miniCutoff_);
}

}  // namespace phonesim
