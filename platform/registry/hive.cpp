#include "platform/registry/hive.h"

#include "platform/text.h"

Hive::Hive() { keys_.emplace("", RegKeyData{}); }

std::string Hive::Normalize(std::string_view path) {
  std::string out;
  size_t i = 0;
  while (i < path.size()) {
    size_t end = path.find('\\', i);
    if (end == std::string_view::npos) end = path.size();
    if (end > i) {
      if (!out.empty()) out += '\\';
      out.append(path.substr(i, end - i));
    }
    i = end + 1;
  }
  return out;
}

std::string Hive::Join(std::string_view parent, std::string_view child) {
  std::string a = Normalize(parent), b = Normalize(child);
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + '\\' + b;
}

bool Hive::HasKey(std::string_view path) const { return Key(path) != nullptr; }

const RegKeyData* Hive::Key(std::string_view path) const {
  auto it = keys_.find(FoldCase(Normalize(path)));
  return it == keys_.end() ? nullptr : &it->second;
}

RegKeyData* Hive::MutableKey(std::string_view path) {
  auto it = keys_.find(FoldCase(Normalize(path)));
  return it == keys_.end() ? nullptr : &it->second;
}

bool Hive::CreateKey(std::string_view path) {
  std::string full = Normalize(path);
  bool created = false;
  size_t pos = 0;
  while (pos <= full.size()) {
    size_t end = full.find('\\', pos);
    if (end == std::string::npos) end = full.size();
    std::string prefix = full.substr(0, end);
    auto [it, inserted] = keys_.try_emplace(FoldCase(prefix), RegKeyData{prefix, {}});
    created = inserted;
    pos = end + 1;
  }
  return created;
}

void Hive::DeleteTree(std::string_view path, bool keepKey) {
  std::string folded = FoldCase(Normalize(path));
  std::string prefix = folded.empty() ? "" : folded + '\\';
  for (auto it = keys_.begin(); it != keys_.end();) {
    bool below = !it->first.empty() && it->first.compare(0, prefix.size(), prefix) == 0 && it->first != folded;
    if (below) {
      it = keys_.erase(it);
    } else {
      ++it;
    }
  }
  auto self = keys_.find(folded);
  if (self == keys_.end()) return;
  if (keepKey || folded.empty()) {
    self->second.values.clear();
  } else {
    keys_.erase(self);
  }
}

const RegValue* Hive::FindValue(std::string_view path, std::string_view name) const {
  const RegKeyData* key = Key(path);
  if (!key) return nullptr;
  for (const RegValue& v : key->values) {
    if (EqualsIgnoreCase(v.name, name)) return &v;
  }
  return nullptr;
}

void Hive::SetValue(std::string_view path, RegValue value) {
  CreateKey(path);
  RegKeyData* key = MutableKey(path);
  for (RegValue& v : key->values) {
    if (EqualsIgnoreCase(v.name, value.name)) {
      v.type = value.type;
      v.data = std::move(value.data);
      return;
    }
  }
  key->values.push_back(std::move(value));
}

bool Hive::DeleteValue(std::string_view path, std::string_view name) {
  RegKeyData* key = MutableKey(path);
  if (!key) return false;
  for (auto it = key->values.begin(); it != key->values.end(); ++it) {
    if (EqualsIgnoreCase(it->name, name)) {
      key->values.erase(it);
      return true;
    }
  }
  return false;
}

std::vector<std::string> Hive::SubKeyNames(std::string_view path) const {
  std::string folded = FoldCase(Normalize(path));
  std::string prefix = folded.empty() ? "" : folded + '\\';
  std::vector<std::string> names;
  for (const auto& [k, data] : keys_) {
    if (k.empty() || k == folded || k.compare(0, prefix.size(), prefix) != 0) continue;
    if (k.find('\\', prefix.size()) != std::string::npos) continue;
    names.push_back(data.path.substr(data.path.rfind('\\') + 1));
  }
  return names;
}
