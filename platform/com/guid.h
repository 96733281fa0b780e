// GUIDs with the usual layout (Data1..Data4), parsed from their text form
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" at compile time or at run time.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];

  friend constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
      if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
  }
};

using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

namespace guid_detail {

constexpr int HexValue(char c) {
  return c >= '0' && c <= '9' ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

// Parses the 38-character braced form; nullopt when it is anything else.
constexpr std::optional<GUID> Parse(std::string_view text) {
  if (text.size() != 38 || text[0] != '{' || text[37] != '}') return std::nullopt;
  constexpr int dashes[] = {9, 14, 19, 24};
  for (int d : dashes) {
    if (text[d] != '-') return std::nullopt;
  }
  std::uint8_t bytes[16] = {};
  int n = 0;
  for (int i = 1; i < 37; ++i) {
    if (i == 9 || i == 14 || i == 19 || i == 24) continue;
    int hi = HexValue(text[i]);
    int lo = HexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    bytes[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
    ++i;
  }
  GUID g{};
  g.Data1 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
            (std::uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

}  // namespace guid_detail

// A GUID from a literal; a malformed literal fails to compile.
consteval GUID MakeGuid(std::string_view text) {
  auto parsed = guid_detail::Parse(text);
  if (!parsed) throw "malformed GUID literal";
  return *parsed;
}

// Run-time parse of the braced form.
inline std::optional<GUID> ParseGuid(std::string_view text) { return guid_detail::Parse(text); }

// The braced upper-case text form.
std::string GuidToString(const GUID& g);

inline constexpr GUID GUID_NULL{};
