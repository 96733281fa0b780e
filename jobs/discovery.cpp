#include "jobs/discovery.h"

#include <unistd.h>

#include <cstdlib>

#include "platform/executable.h"
#include "platform/format.h"
#include "platform/path_name.h"
#include "platform/text.h"
#include "process/command_line.h"
#include "process/search_file.h"
#include "shell/log.h"

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Runs a helper question whose answer is the printed text only.
std::string AnswerText(const std::string& command) {
  std::string text;
  ExecuteCommand(command, &text);
  return text;
}

HRESULT ListAnswer(const std::string& command, const char* operation, std::vector<std::string>* entries) {
  std::string text;
  HRESULT hr = HelperResult(ExecuteCommand(command, &text));
  if (!TraceResult(hr, operation, __LINE__)) return hr;
  for (std::string& entry : SplitListAnswer(text)) entries->push_back(std::move(entry));
  return hr;
}

std::string AdbPath() {
  std::string sdk = SearchFile(std::string_view(), "Google/Android/adb");
  if (::access(sdk.c_str(), X_OK) == 0) return sdk;
  return "adb";  // Debian's, found on PATH when started
}

}  // namespace

std::string InstalledHelperPath(const std::string& executableFolder) {
  return AppendPath(ParentFolder(executableFolder), "libexec/vantor/vantor-devices");
}

std::string DeviceHelperPath() {
  if (const char* helper = std::getenv("VANTOR_DEVICE_HELPER"); helper && *helper) return helper;
  std::string installed = InstalledHelperPath(ExecutableFolder());
  if (::access(installed.c_str(), X_OK) == 0) return installed;
  return SearchFile(std::string_view(), "vantor-devices");
}

std::string HelperCommand(std::string_view verb, std::string_view argument) {
  std::string command = "\"" + DeviceHelperPath() + "\" " + std::string(verb);
  if (!argument.empty()) command += " " + std::string(argument);
  return command;
}

HRESULT HelperResult(HRESULT exitCode) {
  switch (exitCode) {
    case 0: return S_OK;
    case 2: return E_INVALIDARG;
    case 3: return E_ACCESSDENIED;
    case 4: return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    default: return FAILED(exitCode) ? exitCode : E_FAIL;
  }
}

std::vector<std::string> SplitListAnswer(std::string_view text) {
  std::vector<std::string> entries;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = text.find(';', i);
    if (end == std::string_view::npos) end = text.size();
    if (end > i) entries.emplace_back(text.substr(i, end - i));
    i = end + 1;
  }
  return entries;
}

DWORD ParseNumberAnswer(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t digits = 0;
  bool overflow = false;
  ReadDecimalDigits(text, i, &digits, &overflow);
  DWORD value = static_cast<DWORD>(digits);  // as a 32-bit conversion wraps
  return negative ? 0u - value : value;
}

bool IsImei(std::string_view text) {
  if (text.size() < 14 || text.size() > 16) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  return true;
}

HRESULT FindImei(std::string_view properties, std::string* imei) {
  *imei = kUnknownImei;
  auto lineEnd = [](char c) { return c == '\r' || c == '\n'; };
  auto separator = [&](char c) { return c == '[' || c == ']' || c == ':' || c == ' ' || lineEnd(c); };
  size_t i = 0;
  auto nextToken = [&](bool sameLine) -> std::string_view {
    while (i < properties.size() && separator(properties[i]) && !(sameLine && lineEnd(properties[i]))) ++i;
    size_t start = i;
    while (i < properties.size() && !separator(properties[i])) ++i;
    return properties.substr(start, i - start);
  };
  for (std::string_view token = nextToken(false); !token.empty(); token = nextToken(false)) {
    if (token != "ro.ril.oem.imei") continue;
    std::string_view value = nextToken(true);
    // The value must be the whole bracketed text: "[35.. ../x]" is no IMEI.
    bool whole = i == properties.size() || properties[i] == ']' || lineEnd(properties[i]);
    if (!whole || !IsImei(value)) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
    *imei = value;
    return S_OK;
  }
  return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
}

HRESULT GetDeviceList(std::vector<std::string>* devices) {
  return ListAnswer(HelperCommand("list"), "GetDeviceList", devices);
}

HRESULT GetVolumeList(const std::string& deviceId, std::vector<std::string>* volumes) {
  return ListAnswer(HelperCommand("volumes", QuoteArgument(deviceId)), "GetVolumeList", volumes);
}

DWORD GetDeviceType(const std::string& deviceId) {
  return ParseNumberAnswer(AnswerText(HelperCommand("type", QuoteArgument(deviceId))));
}

DWORD GetDeviceIndex(const std::string& deviceId) {
  return ParseNumberAnswer(AnswerText(HelperCommand("index", QuoteArgument(deviceId))));
}

std::string QueryDeviceName(DWORD index, DWORD kind) {
  return AnswerText(HelperCommand("name", Format("%u, %u", index, kind)));
}

std::unique_ptr<CAutoExecutor> MonitorDevice() { return std::make_unique<CAutoExecutor>(HelperCommand("monitor")); }

HRESULT InitializeSetting() { return HelperResult(ExecuteCommand(HelperCommand("init"))); }

std::string GetDeviceIMEI(const std::string& deviceId) {
  std::string adbName = QueryDeviceName(GetDeviceIndex(deviceId), kNameAdb);
  std::string properties;
  HRESULT hr = ExecuteCommand(Format("\"%s\" -s %s shell getprop", AdbPath().c_str(), QuoteArgument(adbName).c_str()),
                              &properties);
  if (!TraceResult(hr, "GetDeviceIMEI", __LINE__)) return kUnknownImei;
  std::string imei;
  hr = FindImei(properties, &imei);
  TraceResult(hr, "GetDeviceIMEI", __LINE__);
  return imei;
}
