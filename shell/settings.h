// The settings the program remembers between runs, in the registry under
// "Software\Orlesk\Vantor\": per user, each of the nine settings as a
// most-recently-used list in a subkey of its own ("DocumentCount",
// "Document1" the newest ... "DocumentN" the oldest); per machine, the
// installation marker ("ExeFile", "ExeStamp") and the "NoQPST" switch.
// Registry failures are silent: defaults stand, entries are skipped.
#pragma once
#include <string>
#include <vector>

inline constexpr char kSettingsKey[] = "Software\\Orlesk\\Vantor\\";

// Registry names and defaults of the nine user settings.
struct SettingName {
  const char* name;
  const char* defaultValue;
};
inline constexpr SettingName kNvItemFileSetting{"NvItemFile", "kelva-factory.qcn"};
inline constexpr SettingName kBatchFileSetting{"BatchFile", "flash_all.sh"};
inline constexpr SettingName kProgrammerSetting{"Programmer", "MPRG8660.hex"};
inline constexpr SettingName kBootImageSetting{"BootImage", "8660_msimage.mbn"};
inline constexpr SettingName kRawFileSetting{"RawFile", "rawprogram0.xml"};
inline constexpr SettingName kPatchFileSetting{"PatchFile", "patch0.xml"};
inline constexpr SettingName kFirehoseProgrammerSetting{"FirehoseProgrammer", "prog_*firehose*"};
// The storage a Firehose phone is configured for: "eMMC" or "UFS" in any
// case; empty, the default, takes it from the package's sector size.
inline constexpr SettingName kFirehoseMemorySetting{"FirehoseMemory", ""};
inline constexpr SettingName kSearchPathSetting{"SearchPath", ""};

// Entries hold at most this many characters.
inline constexpr size_t kMaxMruEntryChars = 255;

// A most-recently-used list: entries oldest first, and a capacity.
class MruList {
 public:
  explicit MruList(size_t capacity = 6) : capacity_(capacity) {}
  // Newest first, as a drop-down shows them.
  std::vector<std::string> NewestFirst() const { return {entries_.rbegin(), entries_.rend()}; }
  size_t capacity() const { return capacity_; }
  size_t size() const { return entries_.size(); }

 private:
  friend bool LoadMru(MruList* list, const char* registryName);
  friend bool AddToMru(MruList* list, const std::string& text);
  std::vector<std::string> entries_;
  size_t capacity_;
};

// The setting's current value: "Document1" of its list, else the default.
std::string ReadSetting(const char* registryName, const std::string& defaultValue);
inline std::string ReadSetting(const SettingName& s) { return ReadSetting(s.name, s.defaultValue); }

// Reloads the list from the registry; false (the list unchanged) when the key
// or "DocumentCount" is missing.
bool LoadMru(MruList* list, const char* registryName);
// Makes text the newest entry (an entry equal to it ignoring case goes); an
// empty text or one of 256 characters or more is not added.
bool AddToMru(MruList* list, const std::string& text);
// Writes the list; "Document%i" values past its end up to 19 are deleted.
bool SaveMru(const MruList& list, const char* registryName);

// Whether the components were installed for this very executable (its path
// and last-write time match the marker).
bool IsInstalled();
// Records this executable as installed; a Win32 error code, also when the
// executable's path or last-write time cannot be read.
long MarkInstalled();
// The longest executable path the marker records: the system's own limit.
inline constexpr size_t kMaxMarkerPathChars = 4095;

// The executable's last-write time as a FILETIME (100 ns units since
// 1601-01-01), low 32 bits first; false when it cannot be read.
bool ExecutableStamp(const std::string& path, unsigned char stamp[8]);

// The program's registration script, as data for the installer.
struct RegistrationEntry {
  const char* root;   // "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE"
  const char* key;
  const char* valueName;  // nullptr: the key alone; "" the default value
  const char* value;
  bool wipeOnRegister;    // removed with everything below it, then created empty
};
extern const RegistrationEntry kRegistrationScript[4];
