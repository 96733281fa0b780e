#include "flashers/phone_name.h"

#include "flashers/nv_item_jobs.h"
#include "jobs/discovery.h"
#include "shell/log.h"

PhoneIdentity IdentifyPhone(const std::string& deviceId) {
  PhoneIdentity identity;
  std::string imei = GetDeviceIMEI(deviceId);
  if (imei != kUnknownImei) {
    identity.imei = imei;
    return identity;
  }
  // adb is seldom allowed on a phone in diagnostic mode: ask the phone.
  HRESULT hr = AskPhoneIdentity(deviceId, kServiceProgrammingCode, &identity);
  if (!TraceResult(hr, "IdentifyPhone", __LINE__)) identity = PhoneIdentity();
  if (identity.empty()) WriteLog("The phone at %s gives no IMEI, MEID or ESN.", deviceId.c_str());
  return identity;
}

std::string QcnBaseName(const PhoneIdentity& identity) {
  std::string name = IdentityName(identity);
  return name.empty() ? kUnknownImei : name;
}
