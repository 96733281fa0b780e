#include "download/disk_numbers.h"

#include <limits>

#include "platform/text.h"

namespace {

constexpr std::string_view kDiskSectorsPrefix = "NUM_DISK_SECTORS-";

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool HasDiskSectorsPrefix(std::string_view text) {
  return text.size() >= kDiskSectorsPrefix.size() &&
         EqualsIgnoreCase(text.substr(0, kDiskSectorsPrefix.size()), kDiskSectorsPrefix);
}

// Digits from position i, then at most one period: true when that is all.
bool DigitsToTheEnd(std::string_view text, size_t i) {
  std::uint64_t ignored = 0;
  bool overflow = false;
  size_t end = ReadDecimalDigits(text, i, &ignored, &overflow);
  if (end == i) return false;
  if (end < text.size() && text[end] == '.') ++end;
  return end == text.size();
}

}  // namespace

std::uint64_t ParseDecimal64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  bool overflow = false;
  ReadDecimalDigits(text, i, &value, &overflow);
  if (overflow) return std::numeric_limits<std::uint64_t>::max();
  return negative ? 0 - value : value;
}

HRESULT EvaluatePatchValue(std::string_view text, std::uint64_t diskBytes, std::uint64_t* value) {
  if (!HasDiskSectorsPrefix(text)) return WS_E_INVALID_FORMAT;
  *value = diskBytes / 512 - ParseDecimal64(text.substr(kDiskSectorsPrefix.size()));
  return S_OK;
}

HRESULT ParseStartSector(std::string_view text, std::uint64_t diskBytes, std::uint64_t* sector) {
  if (HasDiskSectorsPrefix(text)) {
    if (!DigitsToTheEnd(text, kDiskSectorsPrefix.size())) return WS_E_INVALID_FORMAT;
    return EvaluatePatchValue(text, diskBytes, sector);
  }
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  std::string_view number = text.substr(begin, end - begin);
  size_t digits = !number.empty() && (number[0] == '+' || number[0] == '-') ? 1 : 0;
  if (!DigitsToTheEnd(number, digits)) return WS_E_INVALID_FORMAT;
  *sector = ParseDecimal64(number);
  return S_OK;
}
