// Items a phone keeps as arrays: a read names the element in data byte 0,
// and a backup holds one record per element. The protocol does not tell
// which items these are; this is the list known from phones of this family.
#pragma once
#include <cstdint>

// How many elements item id has (1 for a plain item).
inline unsigned NvElementCount(std::uint16_t id) {
  switch (id) {
    case 465: return 6;
    case 1206: return 3;
    case 255:
    case 880:
    case 881:
    case 882:
    case 1014: return 2;
    default: return id >= 5080 && id <= 5087 ? 2 : 1;
  }
}
