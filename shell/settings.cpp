#include "shell/settings.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/executable.h"
#include "platform/registry/registry.h"
#include "platform/text.h"

namespace {

constexpr int kLastDocumentNumber = 19;

std::string DocumentName(size_t k) { return "Document" + std::to_string(k); }

// Opens the setting's subkey for reading.
bool OpenSetting(CRegKey* key, const char* registryName) {
  CRegKey root;
  if (root.Open(HKEY_CURRENT_USER, kSettingsKey) != ERROR_SUCCESS) return false;
  return key->Open(root.get(), registryName) == ERROR_SUCCESS;
}

// A REG_SZ or REG_EXPAND_SZ of at most maxChars characters, terminated; else false.
bool ReadEntry(HKEY key, const std::string& name, std::string* out, size_t maxChars = kMaxMruEntryChars) {
  return RegGetString(key, name, maxChars, out) == ERROR_SUCCESS;
}

}  // namespace

std::string ReadSetting(const char* registryName, const std::string& defaultValue) {
  CRegKey key;
  std::string value;
  if (!OpenSetting(&key, registryName) || !ReadEntry(key.get(), DocumentName(1), &value)) return defaultValue;
  return value;
}

bool LoadMru(MruList* list, const char* registryName) {
  CRegKey key;
  if (!OpenSetting(&key, registryName)) return false;
  DWORD count = 0, type = 0, size = sizeof count;
  if (RegQueryValueEx(key.get(), "DocumentCount", &type, reinterpret_cast<BYTE*>(&count), &size) != ERROR_SUCCESS ||
      type != REG_DWORD || size != 4)
    return false;
  list->capacity_ = count;
  list->entries_.clear();
  // A hand-edited count does not make a reader walk billions of names.
  for (DWORD k = std::min<DWORD>(count, 1000); k >= 1; --k) {
    std::string entry;
    if (ReadEntry(key.get(), DocumentName(k), &entry) && !entry.empty()) list->entries_.push_back(std::move(entry));
  }
  return true;
}

bool AddToMru(MruList* list, const std::string& text) {
  if (text.empty() || CharCount(text) > kMaxMruEntryChars) return false;
  auto& e = list->entries_;
  for (auto it = e.begin(); it != e.end(); ++it) {
    if (EqualsIgnoreCase(*it, text)) {
      e.erase(it);
      break;
    }
  }
  if (!e.empty() && e.size() >= list->capacity_) e.erase(e.begin());
  e.push_back(text);
  return true;
}

bool SaveMru(const MruList& list, const char* registryName) {
  CRegKey root, key;
  if (root.Create(HKEY_CURRENT_USER, kSettingsKey) != ERROR_SUCCESS) return false;
  if (key.Create(root.get(), registryName) != ERROR_SUCCESS) return false;
  if (RegSetDword(key.get(), "DocumentCount", static_cast<DWORD>(list.capacity())) != ERROR_SUCCESS) return false;
  std::vector<std::string> items = list.NewestFirst();
  for (size_t k = items.size(); k >= 1; --k) RegSetString(key.get(), DocumentName(k), items[k - 1]);
  for (size_t k = items.size() + 1; k <= kLastDocumentNumber; ++k) RegDeleteValue(key.get(), DocumentName(k));
  return true;
}

bool ExecutableStamp(const std::string& path, unsigned char stamp[8]) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  // 100 ns units from 1601-01-01 to 1970-01-01, then the file's time.
  constexpr unsigned long long kEpochDifference = 116444736000000000ull;
  unsigned long long t = kEpochDifference + static_cast<unsigned long long>(st.st_mtim.tv_sec) * 10000000ull +
                         static_cast<unsigned long long>(st.st_mtim.tv_nsec) / 100;
  for (int i = 0; i < 8; ++i) stamp[i] = static_cast<unsigned char>(t >> (8 * i));
  return true;
}

bool IsInstalled() {
  CRegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, kSettingsKey) != ERROR_SUCCESS) return false;
  std::string exe = ExecutablePath();
  unsigned char stamp[8];
  if (exe.empty() || !ExecutableStamp(exe, stamp)) return false;
  std::string recorded;
  if (!ReadEntry(key.get(), "ExeFile", &recorded, kMaxMarkerPathChars)) return false;
  unsigned char stored[8];
  DWORD type = 0, size = sizeof stored;
  if (RegQueryValueEx(key.get(), "ExeStamp", &type, stored, &size) != ERROR_SUCCESS || size != 8) return false;
  return EqualsIgnoreCase(recorded, exe) && std::equal(stamp, stamp + 8, stored);
}

long MarkInstalled() {
  CRegKey key;
  LSTATUS rc = key.Create(HKEY_LOCAL_MACHINE, kSettingsKey);
  if (rc != ERROR_SUCCESS) return rc;
  // The marker holds any path the system allows; an executable whose path
  // or time cannot be read cannot be marked, and the install says so.
  std::string exe = ExecutablePath();
  unsigned char stamp[8];
  if (exe.empty() || CharCount(exe) > kMaxMarkerPathChars) return ERROR_FILENAME_EXCED_RANGE;
  if (!ExecutableStamp(exe, stamp)) return ERROR_FILE_NOT_FOUND;
  rc = RegSetString(key.get(), "ExeFile", exe);
  if (rc == ERROR_SUCCESS) rc = RegSetValueEx(key.get(), "ExeStamp", REG_BINARY, stamp, 8);
  return rc;
}

const RegistrationEntry kRegistrationScript[4] = {
    {"HKEY_CLASSES_ROOT", "AppID\\{6481CC9B-C223-4595-A8D3-C24CFAF0C3DF}", "", "Vantor", false},
    {"HKEY_CLASSES_ROOT", "AppID\\Vantor.EXE", "AppID", "{6481CC9B-C223-4595-A8D3-C24CFAF0C3DF}", false},
    {"HKEY_CURRENT_USER", "Software\\Orlesk\\Vantor", nullptr, nullptr, true},
    {"HKEY_LOCAL_MACHINE", "Software\\Orlesk\\Vantor", nullptr, nullptr, true},
};
