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

// Digits from position i, then at most one period, then nothing: their value.
bool DigitsToTheEnd(std::string_view text, size_t i, std::uint64_t* value) {
  bool overflow = false;
  size_t end = ReadDecimalDigits(text, i, value, &overflow);
  if (end == i || overflow) return false;
  if (end < text.size() && text[end] == '.') ++end;
  return end == text.size();
}

}  // namespace

std::uint64_t ParseDecimal64(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::uint64_t value = 0;
  bool overflow = false;
  ReadDecimalDigits(text, i, &value, &overflow);
  if (overflow) return std::numeric_limits<std::uint64_t>::max();
  return negative ? 0 - value : value;
}

HRESULT ParsePatchValue(std::string_view text, SectorNumber* value) {
  if (!HasDiskSectorsPrefix(text)) return WS_E_INVALID_FORMAT;
  *value = {ParseDecimal64(text.substr(kDiskSectorsPrefix.size())), true};
  return S_OK;
}

HRESULT EvaluatePatchValue(std::string_view text, std::uint64_t diskBytes, std::uint64_t* value) {
  SectorNumber number;
  HRESULT hr = ParsePatchValue(text, &number);
  if (FAILED(hr)) return hr;
  *value = number.Resolve(diskBytes);
  return S_OK;
}

HRESULT ParseCount(std::string_view text, std::uint64_t* count) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  std::uint64_t value = 0;
  if (!DigitsToTheEnd(text.substr(begin, end - begin), 0, &value)) return WS_E_INVALID_FORMAT;
  *count = value;
  return S_OK;
}

HRESULT ParseSectorNumber(std::string_view text, SectorNumber* sector) {
  if (HasDiskSectorsPrefix(text)) {
    std::uint64_t back = 0;
    if (!DigitsToTheEnd(text, kDiskSectorsPrefix.size(), &back)) return WS_E_INVALID_FORMAT;
    *sector = {back, true};
    return S_OK;
  }
  std::uint64_t value = 0;
  HRESULT hr = ParseCount(text, &value);
  if (FAILED(hr)) return hr;
  *sector = {value, false};
  return S_OK;
}
