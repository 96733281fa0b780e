// Builds Intel HEX text for tests: data records of up to 16 bytes with
// extended linear address records where the upper half changes.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

inline std::string HexRecord(unsigned type, unsigned address, const std::vector<unsigned char>& data,
                             const char* lineEnd = "\n") {
  std::vector<unsigned char> r = {static_cast<unsigned char>(data.size()), static_cast<unsigned char>(address >> 8),
                                  static_cast<unsigned char>(address), static_cast<unsigned char>(type)};
  r.insert(r.end(), data.begin(), data.end());
  unsigned sum = 0;
  for (unsigned char b : r) sum += b;
  r.push_back(static_cast<unsigned char>(-sum));
  std::string line = ":";
  char two[3];
  for (unsigned char b : r) {
    std::snprintf(two, sizeof two, "%02X", b);
    line += two;
  }
  return line + lineEnd;
}

inline std::string MakeHex(const std::map<std::uint32_t, std::vector<unsigned char>>& blocks,
                           std::optional<std::uint32_t> entry, const char* lineEnd = "\n") {
  std::string text;
  std::optional<unsigned> upper;
  for (const auto& [address, bytes] : blocks) {
    size_t i = 0;
    while (i < bytes.size()) {
      std::uint32_t a = address + static_cast<std::uint32_t>(i);
      if (upper != a >> 16) {
        upper = a >> 16;
        text += HexRecord(4, 0, {static_cast<unsigned char>(*upper >> 8), static_cast<unsigned char>(*upper)}, lineEnd);
      }
      // A record never crosses a 64 KiB boundary.
      size_t n = std::min<size_t>({16, bytes.size() - i, 0x10000 - (a & 0xFFFF)});
      text += HexRecord(0, a & 0xFFFF, std::vector<unsigned char>(bytes.begin() + i, bytes.begin() + i + n), lineEnd);
      i += n;
    }
  }
  if (entry) {
    text += HexRecord(5, 0, {static_cast<unsigned char>(*entry >> 24), static_cast<unsigned char>(*entry >> 16),
                             static_cast<unsigned char>(*entry >> 8), static_cast<unsigned char>(*entry)}, lineEnd);
  }
  return text + HexRecord(1, 0, {}, lineEnd);
}

inline std::vector<unsigned char> Pattern(size_t size, unsigned seed) {
  std::vector<unsigned char> bytes(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345u;
    b = static_cast<unsigned char>(x >> 16);
  }
  return bytes;
}
