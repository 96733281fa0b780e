// Numbers of the rawprogram and patch files.
#pragma once
#include <cstdint>
#include <string_view>

#include "platform/hresult.h"

// An unsigned 64-bit base-10 conversion: leading white space, an optional
// sign ("-" negates modulo 2^64), digits up to the first other character; no
// digits give 0, a value out of range gives the largest value. "0x10" reads 0.
std::uint64_t ParseDecimal64(std::string_view text);

// "NUM_DISK_SECTORS-n" (prefix compared ignoring case; what follows the
// digits of n is ignored): the disk's sector count minus n. Any other form is
// WS_E_INVALID_FORMAT.
HRESULT EvaluatePatchValue(std::string_view text, std::uint64_t diskBytes, std::uint64_t* value);

// A program element's "start_sector": a plain decimal number (white space
// around it and one closing period allowed; read as ParseDecimal64 reads it),
// or "NUM_DISK_SECTORS-n." exactly (prefix ignoring case, the period
// optional), evaluated like a patch value. Anything else - no digits, a "0x"
// form, an expression - is WS_E_INVALID_FORMAT, so a package can never put
// an image where it did not mean to.
HRESULT ParseStartSector(std::string_view text, std::uint64_t diskBytes, std::uint64_t* sector);
