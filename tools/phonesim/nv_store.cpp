#include "tools/phonesim/nv_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace phonesim {

void NvStore::Put(const NvKey& key, const NvValue& value) { values_[key] = value; }

const NvValue* NvStore::Find(const NvKey& key) const {
  auto it = values_.find(key);
  return it == values_.end() ? nullptr : &it->second;
}

bool NvStore::IsDefined(std::uint16_t id) const {
  if (inactive_.count(id) != 0) return true;
  auto it = values_.lower_bound(NvKey{0, id, 0});
  return it != values_.end() && it->first.context == 0 && it->first.id == id;
}

std::uint16_t NvStore::Elements(std::uint16_t id) const {
  auto it = elements_.find(id);
  return it == elements_.end() ? 0 : it->second;
}

std::string NvStore::DumpText() const {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(values_.size() * (kNvDataSize * 2 + 14));
  char head[16];
  for (const auto& [key, value] : values_) {
    if (key.context != 0) continue;  // the map orders context first
    std::snprintf(head, sizeof head, "%u %u ", unsigned{key.id}, unsigned{key.index});
    text += head;
    for (std::uint8_t b : value) {
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    text += '\n';
  }
  return text;
}

NvStore SeededStore(const std::vector<NvRecord>& records) {
  NvStore store;
  std::map<std::uint16_t, std::uint16_t> highest;
  for (const NvRecord& r : records) {
    store.Put(r.key, r.data);
    auto& h = highest[r.key.id];
    h = std::max(h, r.key.index);
  }
  for (const auto& [id, index] : highest) {
    if (index > 0) store.SetElements(id, static_cast<std::uint16_t>(index + 1));
  }
  return store;
}

bool ReplaceFile(const std::string& path, const std::string& text) {
  std::string temp = path + ".tmp" + std::to_string(::getpid());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  bool ok = ::close(fd) == 0 && done == text.size();
  if (ok && ::rename(temp.c_str(), path.c_str()) == 0) return true;
  ::unlink(temp.c_str());
  return false;
}

}  // namespace phonesim
