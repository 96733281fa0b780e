// Numbers of the rawprogram and patch files.
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/hresult.h"

// An unsigned 64-bit base-10 conversion: leading white space, an optional
// sign ("-" negates modulo 2^64), digits up to the first other character; no
// digits give 0, a value out of range gives the largest value. "0x10" reads 0.
std::uint64_t ParseDecimal64(std::string_view text);

// A sector number of a package: plain, or counted back from the disk's end
// ("NUM_DISK_SECTORS-n"). The package is read before the disk is known, so
// the second form is resolved only when the disk's length is.
struct SectorNumber {
  std::uint64_t value = 0;
  bool fromDiskEnd = false;
  // The disk's sector count minus value for the second form (modulo 2^64).
  std::uint64_t Resolve(std::uint64_t diskBytes) const { return fromDiskEnd ? diskBytes / 512 - value : value; }
};

// A patch "value": "NUM_DISK_SECTORS-n" (prefix compared ignoring case; what
// follows the digits of n is ignored). Any other form is WS_E_INVALID_FORMAT.
HRESULT ParsePatchValue(std::string_view text, SectorNumber* value);
// ParsePatchValue resolved against a disk of diskBytes.
HRESULT EvaluatePatchValue(std::string_view text, std::uint64_t diskBytes, std::uint64_t* value);

// A plain count: decimal digits only, white space around them and one
// closing period allowed, no sign, at most 2^64 - 1. Anything else - no
// digits, a "0x" form, an expression, a sign - is WS_E_INVALID_FORMAT, so a
// package can never put an image where it did not mean to.
HRESULT ParseCount(std::string_view text, std::uint64_t* count);

// A "start_sector": a plain count, or "NUM_DISK_SECTORS-n." exactly (prefix
// ignoring case, the period optional). Anything else is WS_E_INVALID_FORMAT.
HRESULT ParseSectorNumber(std::string_view text, SectorNumber* sector);
