#include "platform/registry/registry.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/home_folder.h"
#include "platform/registry/hive_file.h"
#include "platform/text.h"

struct RegKeyHandle {
  int hive;  // 0 classes root, 1 current user, 2 local machine
  std::string path;
  bool predefined;
};

namespace {

RegKeyHandle g_roots[3] = {{0, "", true}, {1, "", true}, {2, "", true}};
constexpr const char* kRootNames[3] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE"};
constexpr const char* kFileNames[3] = {"HKEY_CLASSES_ROOT.reg", "HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg"};

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;
constexpr DWORD kMaxValueBytes = 1024 * 1024;

std::string HiveDirectory(int hive) {
  if (const char* dir = std::getenv("VANTOR_REGISTRY_DIR"); dir && *dir) return dir;
  if (hive != 1) return "/var/lib/vantor";
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) return std::string(config) + "/vantor";
  // A user with no home at all keeps no settings (writes there fail), rather
  // than sharing a folder with every other user.
  std::string home = HomeFolder();
  return (home.empty() ? std::string("/nonexistent") : home) + "/.config/vantor";
}

// The user's hive is the user's alone: it may hold the records server's
// connection string with its password.
HiveFile FileOf(int hive) {
  return HiveFile(HiveDirectory(hive) + "/" + kFileNames[hive], kRootNames[hive], hive == 1 ? 0600 : 0644);
}

bool ValidHandle(HKEY key) {
  return key != nullptr && key->hive >= 0 && key->hive <= 2;
}

bool ValidSubKey(std::string_view subKey) {
  std::string normal = Hive::Normalize(subKey);
  size_t start = 0;
  while (start <= normal.size()) {
    size_t end = normal.find('\\', start);
    if (end == std::string::npos) end = normal.size();
    if (CharCount(std::string_view(normal).substr(start, end - start)) > kMaxKeyNameChars) return false;
    start = end + 1;
  }
  return true;
}

LSTATUS NewHandle(int hive, std::string path, HKEY* result) {
  auto* handle = new (std::nothrow) RegKeyHandle{hive, std::move(path), false};
  if (!handle) return ERROR_NOT_ENOUGH_MEMORY;
  *result = handle;
  return ERROR_SUCCESS;
}

// Loads the key's hive and checks that the key still exists.
LSTATUS LoadKey(HKEY key, Hive* hive) {
  if (!ValidHandle(key)) return ERROR_INVALID_HANDLE;
  LSTATUS rc = FileOf(key->hive).Load(hive);
  if (rc != ERROR_SUCCESS) return rc;
  return hive->HasKey(key->path) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

}  // namespace

const HKEY HKEY_CLASSES_ROOT = &g_roots[0];
const HKEY HKEY_CURRENT_USER = &g_roots[1];
const HKEY HKEY_LOCAL_MACHINE = &g_roots[2];

std::string RegistryHivePath(HKEY root) {
  if (!ValidHandle(root)) return std::string();
  return FileOf(root->hive).path();
}

LSTATUS RegCheckWritable(HKEY root) {
  if (!ValidHandle(root) || !root->predefined) return ERROR_INVALID_HANDLE;
  return FileOf(root->hive).CheckWritable();
}

LSTATUS RegCreateKeyEx(HKEY parent, std::string_view subKey, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!ValidHandle(parent)) return ERROR_INVALID_HANDLE;
  if (!ValidSubKey(subKey)) return ERROR_INVALID_PARAMETER;
  std::string path = Hive::Join(parent->path, subKey);
  bool created = false;
  LSTATUS rc = FileOf(parent->hive).Modify([&](Hive& hive, bool* modified) -> LSTATUS {
    if (!hive.HasKey(parent->path)) return ERROR_KEY_DELETED;
    created = hive.CreateKey(path);
    *modified = created;
    return ERROR_SUCCESS;
  });
  if (rc != ERROR_SUCCESS) return rc;
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return NewHandle(parent->hive, path, result);
}

LSTATUS RegOpenKeyEx(HKEY parent, std::string_view subKey, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  if (!ValidHandle(parent)) return ERROR_INVALID_HANDLE;
  Hive hive;
  LSTATUS rc = FileOf(parent->hive).Load(&hive);
  if (rc != ERROR_SUCCESS) return rc;
  std::string path = Hive::Join(parent->path, subKey);
  if (!hive.HasKey(path)) return ERROR_FILE_NOT_FOUND;
  return NewHandle(parent->hive, path, result);
}

LSTATUS RegCloseKey(HKEY key) {
  if (!ValidHandle(key)) return ERROR_INVALID_HANDLE;
  if (!key->predefined) delete key;
  return ERROR_SUCCESS;
}

LSTATUS RegQueryValueEx(HKEY key, std::string_view name, DWORD* type, BYTE* data, DWORD* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  Hive hive;
  LSTATUS rc = LoadKey(key, &hive);
  if (rc != ERROR_SUCCESS) return rc;
  const RegValue* value = hive.FindValue(key->path, name);
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  DWORD needed = static_cast<DWORD>(value->data.size());
  if (!size) return ERROR_SUCCESS;
  DWORD available = *size;
  *size = needed;
  if (!data) return ERROR_SUCCESS;
  if (available < needed) return ERROR_MORE_DATA;
  if (needed) std::memcpy(data, value->data.data(), needed);
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueEx(HKEY key, std::string_view name, DWORD type, const BYTE* data, DWORD size) {
  if (!ValidHandle(key)) return ERROR_INVALID_HANDLE;
  if (size && !data) return ERROR_INVALID_PARAMETER;
  if (size > kMaxValueBytes || CharCount(name) > kMaxValueNameChars) return ERROR_INVALID_PARAMETER;
  if (type == REG_DWORD && size != 4) return ERROR_INVALID_PARAMETER;
  RegValue value{std::string(name), type, std::vector<BYTE>(data, data + size)};
  return FileOf(key->hive).Modify([&](Hive& hive, bool* modified) -> LSTATUS {
    if (!hive.HasKey(key->path)) return ERROR_KEY_DELETED;
    hive.SetValue(key->path, std::move(value));
    *modified = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegDeleteValue(HKEY key, std::string_view name) {
  if (!ValidHandle(key)) return ERROR_INVALID_HANDLE;
  return FileOf(key->hive).Modify([&](Hive& hive, bool* modified) -> LSTATUS {
    if (!hive.HasKey(key->path)) return ERROR_KEY_DELETED;
    *modified = hive.DeleteValue(key->path, name);
    return *modified ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
}

LSTATUS RegDeleteTree(HKEY key, std::string_view subKey) {
  if (!ValidHandle(key)) return ERROR_INVALID_HANDLE;
  std::string path = Hive::Join(key->path, subKey);
  bool keepKey = Hive::Normalize(subKey).empty();
  return FileOf(key->hive).Modify([&](Hive& hive, bool* modified) -> LSTATUS {
    if (!hive.HasKey(key->path)) return ERROR_KEY_DELETED;
    if (!hive.HasKey(path)) return ERROR_FILE_NOT_FOUND;
    hive.DeleteTree(path, keepKey);
    *modified = true;
    return ERROR_SUCCESS;
  });
}

LSTATUS RegEnumKey(HKEY key, DWORD index, std::string* name) {
  if (!name) return ERROR_INVALID_PARAMETER;
  Hive hive;
  LSTATUS rc = LoadKey(key, &hive);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<std::string> names = hive.SubKeyNames(key->path);
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  *name = names[index];
  return ERROR_SUCCESS;
}

LSTATUS RegSetString(HKEY key, std::string_view name, std::string_view value, DWORD type) {
  std::string data(value);
  return RegSetValueEx(key, name, type, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
}

LSTATUS RegGetString(HKEY key, std::string_view name, size_t maxChars, std::string* value) {
  DWORD type = 0, size = 0;
  LSTATUS rc = RegQueryValueEx(key, name, &type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  // UTF-8 holds a character in at most four bytes.
  if ((type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > maxChars * 4 + 1) return ERROR_INVALID_DATA;
  std::string data(size, '\0');
  rc = RegQueryValueEx(key, name, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  if (rc != ERROR_SUCCESS) return rc;
  if (size == 0 || data[size - 1] != '\0') return ERROR_INVALID_DATA;
  data.resize(size - 1);
  if (data.find('\0') != std::string::npos || CharCount(data) > maxChars) return ERROR_INVALID_DATA;
  *value = std::move(data);
  return ERROR_SUCCESS;
}

LSTATUS RegSetDword(HKEY key, std::string_view name, DWORD value) {
  BYTE data[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
                  static_cast<BYTE>(value >> 24)};
  return RegSetValueEx(key, name, REG_DWORD, data, 4);
}

LSTATUS CRegKey::Create(HKEY parent, std::string_view subKey) {
  Close();
  return RegCreateKeyEx(parent, subKey, &key_);
}

LSTATUS CRegKey::Open(HKEY parent, std::string_view subKey) {
  Close();
  return RegOpenKeyEx(parent, subKey, &key_);
}

void CRegKey::Close() {
  if (key_) RegCloseKey(key_);
  key_ = nullptr;
}

namespace {

// 1 true, 0 false, -1 not a boolean form.
int BoolFromValue(HKEY root, std::string_view subKey, std::string_view name) {
  CRegKey key;
  if (key.Open(root, subKey) != ERROR_SUCCESS) return -1;
  BYTE data[64];
  DWORD type = 0, size = sizeof data;
  if (RegQueryValueEx(key.get(), name, &type, data, &size) != ERROR_SUCCESS) return -1;
  if (type == REG_DWORD && size == 4) return (data[0] | data[1] | data[2] | data[3]) != 0 ? 1 : 0;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return -1;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
  for (const char* yes : {"yes", "true", "1"}) {
    if (EqualsIgnoreCase(text, yes)) return 1;
  }
  for (const char* no : {"no", "false", "0"}) {
    if (EqualsIgnoreCase(text, no)) return 0;
  }
  return -1;
}

}  // namespace

bool SHRegGetBoolUSValue(std::string_view subKey, std::string_view value, bool ignoreUser, bool defaultValue) {
  int verdict = ignoreUser ? -1 : BoolFromValue(HKEY_CURRENT_USER, subKey, value);
  if (verdict < 0) verdict = BoolFromValue(HKEY_LOCAL_MACHINE, subKey, value);
  return verdict < 0 ? defaultValue : verdict == 1;
}
