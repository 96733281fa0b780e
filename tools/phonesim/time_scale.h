// The bench's delays follow the same factor as the program's time-outs
// (VANTOR_TIME_SCALE), parsed here on the bench's own.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace phonesim {

inline unsigned ScaledMs(unsigned ms) {
  const char* text = std::getenv("VANTOR_TIME_SCALE");
  double factor = text ? std::atof(text) : 1.0;
  if (!(factor > 0.0)) factor = 1.0;
  return static_cast<unsigned>(std::max(1.0, std::round(ms * factor)));
}

}  // namespace phonesim
