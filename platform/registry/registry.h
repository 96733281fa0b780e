// The registry: three hives (HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,
// HKEY_LOCAL_MACHINE) of keys with typed values, with the usual functions and
// failure codes (Win32 error numbers, not HRESULTs). Each hive is a REGEDIT4
// file: the user hive under $XDG_CONFIG_HOME/vantor/ (default ~/.config/vantor/),
// the machine hives under /var/lib/vantor/; VANTOR_REGISTRY_DIR moves all
// three into one folder.
//
// Every call reads the hive file afresh, so what another process saved is
// seen at once; a handle names a key by path and fails with
// ERROR_KEY_DELETED once the key is gone.
#pragma once
#include <string>
#include <string_view>

#include "platform/registry/hive.h"
#include "platform/hresult.h"

struct RegKeyHandle;
using HKEY = RegKeyHandle*;

extern const HKEY HKEY_CLASSES_ROOT;
extern const HKEY HKEY_CURRENT_USER;
extern const HKEY HKEY_LOCAL_MACHINE;

enum : DWORD {
  REG_CREATED_NEW_KEY = 1,
  REG_OPENED_EXISTING_KEY = 2,
};

// The file that holds a predefined key's hive (honours VANTOR_REGISTRY_DIR
// at the time of the call).
std::string RegistryHivePath(HKEY root);

// ERROR_SUCCESS when this process may change the hive of the predefined key
// root (a normal user may not change the machine hives); else the error met,
// ERROR_ACCESS_DENIED as a rule. Makes the hive's folder and lock file when
// they are missing, as a first change would.
LSTATUS RegCheckWritable(HKEY root);

LSTATUS RegCreateKeyEx(HKEY parent, std::string_view subKey, HKEY* result, DWORD* disposition = nullptr);
LSTATUS RegOpenKeyEx(HKEY parent, std::string_view subKey, HKEY* result);
LSTATUS RegCloseKey(HKEY key);

// type and size may be null. With data null, *size receives the size needed;
// with *size too small, ERROR_MORE_DATA and *size the size needed.
LSTATUS RegQueryValueEx(HKEY key, std::string_view name, DWORD* type, BYTE* data, DWORD* size);
// REG_SZ and REG_EXPAND_SZ data are UTF-8 bytes including the terminating NUL;
// REG_DWORD data are 4 little-endian bytes.
LSTATUS RegSetValueEx(HKEY key, std::string_view name, DWORD type, const BYTE* data, DWORD size);
LSTATUS RegDeleteValue(HKEY key, std::string_view name);
// Deletes subKey with everything below it; with an empty subKey, every
// subkey and value of key (the key itself stays).
LSTATUS RegDeleteTree(HKEY key, std::string_view subKey);
// The index-th direct subkey name; ERROR_NO_MORE_ITEMS past the last.
LSTATUS RegEnumKey(HKEY key, DWORD index, std::string* name);

// Convenience forms over the functions above.
LSTATUS RegSetString(HKEY key, std::string_view name, std::string_view value, DWORD type = REG_SZ);
LSTATUS RegSetDword(HKEY key, std::string_view name, DWORD value);
// A REG_SZ or REG_EXPAND_SZ value of at most maxChars characters, ending in
// its terminator and holding no other NUL; ERROR_INVALID_DATA for any other.
LSTATUS RegGetString(HKEY key, std::string_view name, size_t maxChars, std::string* value);

// An open key closed by its destructor.
class CRegKey {
 public:
  CRegKey() = default;
  ~CRegKey() { Close(); }
  CRegKey(const CRegKey&) = delete;
  CRegKey& operator=(const CRegKey&) = delete;

  LSTATUS Create(HKEY parent, std::string_view subKey);
  LSTATUS Open(HKEY parent, std::string_view subKey);
  void Close();
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// The shell's boolean reader: the value from HKEY_CURRENT_USER (unless
// ignoreUser), else from HKEY_LOCAL_MACHINE, else defaultValue. Accepted
// forms: REG_DWORD (non-zero is true) and REG_SZ/REG_EXPAND_SZ holding "yes",
// "true" or "1" (true) or "no", "false" or "0" (false), in any case. Any
// other value counts as absent.
bool SHRegGetBoolUSValue(std::string_view subKey, std::string_view value, bool ignoreUser, bool defaultValue);
