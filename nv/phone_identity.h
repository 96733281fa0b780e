// A phone's identity as the phone gives it itself: the IMEI of NV item 550,
// the MEID of item 1943 (CDMA phones of this chipset have no IMEI) and the
// ESN. A .qcn file holds the same items, and its ESN in its property stream.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "download/serial_port.h"
#include "nv/diag_packets.h"

struct QcnContents;
class DiagPhone;

inline constexpr std::uint16_t kNvImeiItem = 550;
inline constexpr std::uint16_t kNvMeidItem = 1943;

struct PhoneIdentity {
  std::string imei;       // decimal digits; empty when there is none
  std::string meid;       // 14 upper-case hexadecimal digits; empty when there is none
  std::uint32_t esn = 0;  // 0 when there is none

  bool empty() const { return imei.empty() && meid.empty() && esn == 0; }
};

// The IMEI item's digits when they are an IMEI (14 to 16 digits, not all
// zero); "" otherwise.
std::string ImeiOfItem(const NvData& data);
// The MEID item's 56 bits (least significant byte first) as 14 hexadecimal
// digits; "" when they are zero.
std::string MeidOfItem(const NvData& data);

// What a file of the phone is named after: the first of IMEI, MEID and ESN
// (8 hexadecimal digits) that the phone has; "" when it has none. Only
// digits and letters A to F, so it is safe as a file name.
std::string IdentityName(const PhoneIdentity& identity);
// The same, saying which it is: the IMEI's digits, or "MEID ..." or "ESN ...".
std::string IdentityLabel(const PhoneIdentity& identity);

// The identity a .qcn file holds: element 0 of items 550 and 1943 of the
// default context, and the ESN of its property stream.
PhoneIdentity IdentityOfContents(const QcnContents& contents);
// Whether a file's identity can be the phone's: each of IMEI, MEID and ESN
// that both have must agree. On a mismatch, *difference names both values of
// the first that differs ("file IMEI 35..., phone IMEI 86...").
bool SamePhone(const PhoneIdentity& file, const PhoneIdentity& phone, std::string* difference);

// Reads items 550 and 1943 and the ESN of a phone already unlocked. An item
// the phone refuses or lacks stays empty; a link that fails is the result.
HRESULT ReadPhoneIdentity(DiagPhone& phone, PhoneIdentity* identity);
// The whole question: version probe, the service programming code (the
// identity items are protected; a refused code is no failure here), then
// ReadPhoneIdentity.
HRESULT AskPhoneIdentity(SerialPort& port, std::string_view spc, PhoneIdentity* identity);
// The same on the phone's port by its name, opened for the call.
HRESULT AskPhoneIdentity(const std::string& portPath, std::string_view spc, PhoneIdentity* identity);
