// What the NV jobs name a phone's .qcn file after: the IMEI adb reads when
// it gives a valid one; otherwise the phone's own answer over its diagnostic
// port (the IMEI item, else the MEID, else the ESN); fifteen zeros only for
// a phone that gives none of them.
#pragma once
#include <string>

#include "nv/phone_identity.h"

// The identity of the phone at deviceId (its diagnostic port); empty when
// neither adb nor the phone gives one.
PhoneIdentity IdentifyPhone(const std::string& deviceId);
// IdentityName, or fifteen zeros for an empty identity.
std::string QcnBaseName(const PhoneIdentity& identity);
