// Bytes written as hex text for the tests: "26 7D 07 130x00" is 26 7D 07
// followed by 130 zero bytes.
#pragma once
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tools/phonesim/sim_frame.h"

inline phonesim::Bytes HexBytes(const std::string& text) {
  phonesim::Bytes out;
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    std::size_t x = token.find('x');
    std::size_t count = x == std::string::npos ? 1 : std::stoul(token.substr(0, x));
    std::string value = x == std::string::npos ? token : token.substr(x + 1);
    if (value.size() != 2) throw std::invalid_argument("bad hex byte " + token);
    out.insert(out.end(), count, static_cast<std::uint8_t>(std::stoul(value, nullptr, 16)));
  }
  return out;
}
