#include "download/disk_numbers.h"

#include <limits>

#include "platform/text.h"

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
  constexpr std::string_view kPrefix = "NUM_DISK_SECTORS-";
  if (text.size() < kPrefix.size() || !EqualsIgnoreCase(text.substr(0, kPrefix.size()), kPrefix))
    return WS_E_INVALID_FORMAT;
  *value = diskBytes / 512 - ParseDecimal64(text.substr(kPrefix.size()));
  return S_OK;
}
