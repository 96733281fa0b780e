// The NV items a bench diagnostic phone starts with when no backup file
// seeds it: a few hundred items whose values depend on the phone's index,
// with the identity items in their usual places (ESN 0, SPC 85, IMEI 550,
// MEID 1943), some indexed, some read-only, some SPC-protected, some defined
// but never written, and a few per-SIM copies.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "tools/phonesim/nv_store.h"

namespace phonesim {

inline constexpr std::uint16_t kNvEsnItem = 0;
inline constexpr std::uint16_t kNvSpcItem = 85;
inline constexpr std::uint16_t kNvImeiItem = 550;
inline constexpr std::uint16_t kNvMeidItem = 1943;

NvStore GeneratedStore(unsigned phoneIndex, const std::string& spc);

// An identity given to a phone in place of the one its store holds: each
// value set replaces the item; set to "" (or 0) the phone has none (the
// item is defined but not active, and the ESN request answers 0).
struct DiagIdentity {
  std::optional<std::string> imei;    // 14 to 16 digits
  std::optional<std::uint64_t> meid;  // 56 bits
  std::optional<std::uint32_t> esn;
};
void ApplyIdentity(NvStore& store, const DiagIdentity& identity);

// The phone's 15-digit IMEI (a valid check digit) and its ESN.
std::string GeneratedImei(unsigned phoneIndex);
std::uint32_t GeneratedEsn(unsigned phoneIndex);

// An IMEI's item value: length byte 8, then the digits as BCD, low nibble
// first, the first digit behind the identity-type nibble A.
NvValue ImeiItemValue(const std::string& digits);

}  // namespace phonesim
