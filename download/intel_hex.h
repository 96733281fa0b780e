// The flash programmer image read from an Intel HEX file.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hresult.h"

struct ProgrammerImage {
  std::uint32_t entryPoint = 0;                                  // from the start linear address record
  std::map<std::uint32_t, std::vector<unsigned char>> blocks;    // by address, ascending
};

// Parses the text of a HEX file (no I/O). Records: 00 data, 01 end of file
// (reading goes on), 04 extended linear address (address 0, 2 bytes), 05 start
// linear address (address 0, 4 bytes); anything else, a bad checksum or
// length, a record reaching past 4 GiB, or anything after the last record but
// the end makes the file invalid: HRESULT_FROM_WIN32(ERROR_BAD_FORMAT).
// Touching blocks are merged.
HRESULT ParseIntelHex(std::string_view text, ProgrammerImage* image);

// Reads and parses a file; a file that cannot be read is ERROR_BAD_FORMAT
// too, one that is not a regular file E_INVALIDARG (it is never read).
HRESULT LoadIntelHex(const std::string& path, ProgrammerImage* image);

// Merges runs of blocks where one ends exactly where the next begins.
void MergeTouchingBlocks(ProgrammerImage* image);
