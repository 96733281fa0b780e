// A hive as text in the REGEDIT4 export format:
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Orlesk\Vantor]
//   "SearchPath"="D:\\packages"
//   "Count"=dword:0000000a
//   "Blob"=hex:01,02,ff
//   "Expand"=hex(2):25,54,4d,50,25,00
//
// Strings are UTF-8. A REG_SZ that the quoted form cannot carry exactly (a
// line break, an embedded NUL, invalid UTF-8, a missing terminator) is
// written as hex(1) so that no value changes on its way through the file.
#pragma once
#include <string>
#include <string_view>

#include "platform/registry/hive.h"

std::string SerializeHive(const Hive& hive, std::string_view rootName);

// Parses text written by SerializeHive (and hand-written files of the same
// format); keys must lie under rootName. False when the text is malformed.
bool ParseHive(std::string_view text, std::string_view rootName, Hive* hive);
