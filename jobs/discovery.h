// Device discovery: every question about the attached phones is asked of the
// device helper (vantor-devices) or of adb, and answered by what they print.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hresult.h"
#include "process/executor.h"

// Device type codes: the mode a phone is attached in.
enum : DWORD {
  kDeviceEmergencyDownload = 0x1000001,
  kDeviceUsbDisk = 0x1000002,
  kDeviceFastboot = 0x1000003,
  kDeviceDiagnostic = 0x1000004,
};

// Name kinds of QueryDeviceName.
enum : DWORD {
  kNameDeviceId = 0x1000000,  // the identifier of the phone now at an index
  kNameAdb = 0x2000000,       // the name adb addresses the phone by
};

inline constexpr char kUnknownImei[] = "000000000000000";

// The helper: VANTOR_DEVICE_HELPER when set; else the installed internal
// program, ../libexec/vantor/vantor-devices from the executable's folder,
// when it is there; else vantor-devices found by SearchFile over the default
// folders (the executable's folder first).
std::string DeviceHelperPath();
// The installed helper's place for programs in executableFolder.
std::string InstalledHelperPath(const std::string& executableFolder);

HRESULT GetDeviceList(std::vector<std::string>* devices);
HRESULT GetVolumeList(const std::string& deviceId, std::vector<std::string>* volumes);
DWORD GetDeviceType(const std::string& deviceId);
DWORD GetDeviceIndex(const std::string& deviceId);
std::string QueryDeviceName(DWORD index, DWORD kind);
std::unique_ptr<CAutoExecutor> MonitorDevice();
HRESULT InitializeSetting();
std::string GetDeviceIMEI(const std::string& deviceId);

// The parsing rules, apart so they can be checked on their own.
// Maximal runs of characters other than ";", untrimmed.
std::vector<std::string> SplitListAnswer(std::string_view text);
// Leading white space, an optional sign, decimal digits; 0 without digits.
DWORD ParseNumberAnswer(std::string_view text);
// The IMEI in a property list: the token after "ro.ril.oem.imei" on its
// line, which names a file, so only 14 to 16 decimal digits standing alone
// in the value count. S_OK with the IMEI; otherwise *imei is kUnknownImei and
// the result says why: HRESULT_FROM_WIN32(ERROR_NOT_FOUND) without the
// property, HRESULT_FROM_WIN32(ERROR_INVALID_DATA) when its value is no IMEI.
HRESULT FindImei(std::string_view properties, std::string* imei);
bool IsImei(std::string_view text);
// The helper's exit status as a result: 0 S_OK, 1 E_FAIL, 2 E_INVALIDARG,
// 3 E_ACCESSDENIED, 4 HRESULT_FROM_WIN32(ERROR_NOT_FOUND), others E_FAIL;
// a failure to start the helper stays as it is.
HRESULT HelperResult(HRESULT exitCode);
// The command line of a question: the quoted helper path and the verb's words.
std::string HelperCommand(std::string_view verb, std::string_view argument = {});
