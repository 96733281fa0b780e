// The NV items of a bench diagnostic phone: 128-byte values keyed by
// context (0 default, 1 and 2 the SIM subscriptions), item id and element
// index, and what each id allows: read-only ids (writes answered 7),
// SPC-protected ids (42 while the code is not accepted), indexed ids with
// their element count, and ids that are defined but were never written.
#pragma once
#include <array>
#include <compare>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace phonesim {

inline constexpr std::size_t kNvDataSize = 128;
using NvValue = std::array<std::uint8_t, kNvDataSize>;

struct NvKey {
  std::uint16_t context = 0;
  std::uint16_t id = 0;
  std::uint16_t index = 0;
  auto operator<=>(const NvKey&) const = default;
};

// One stored value, as a backup file holds it.
struct NvRecord {
  NvKey key;
  NvValue data{};
};

class NvStore {
 public:
  void Put(const NvKey& key, const NvValue& value);
  void Erase(const NvKey& key) { values_.erase(key); }
  const NvValue* Find(const NvKey& key) const;

  void SetReadOnly(std::uint16_t id) { readOnly_.insert(id); }
  void SetProtected(std::uint16_t id) { protected_.insert(id); }
  void SetInactive(std::uint16_t id) { inactive_.insert(id); }
  // The id holds `count` elements, chosen by data byte 0 of a request.
  void SetElements(std::uint16_t id, std::uint16_t count) { elements_[id] = count; }

  bool IsReadOnly(std::uint16_t id) const { return readOnly_.count(id) != 0; }
  bool IsProtected(std::uint16_t id) const { return protected_.count(id) != 0; }
  // Stored in the default context, or defined but never written.
  bool IsDefined(std::uint16_t id) const;
  // Element count of an indexed id, 0 for an ordinary one.
  std::uint16_t Elements(std::uint16_t id) const;

  const std::map<NvKey, NvValue>& values() const { return values_; }

  // The default context as text: one line "ID INDEX HEX" per stored value,
  // decimal id and index, 256 lower-case hex digits, by id then index.
  std::string DumpText() const;

 private:
  std::map<NvKey, NvValue> values_;
  std::set<std::uint16_t> readOnly_, protected_, inactive_;
  std::map<std::uint16_t, std::uint16_t> elements_;
};

// A store filled from backup records: ids with records beyond index 0 become
// indexed, with as many elements as the highest index plus one.
NvStore SeededStore(const std::vector<NvRecord>& records);

// Writes text to path through a temporary file beside it and a rename, so a
// reader sees the old or the new content; false when that failed.
bool ReplaceFile(const std::string& path, const std::string& text);

}  // namespace phonesim
