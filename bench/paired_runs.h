// Paired, alternating runs: a program run and the run of its bound, one
// right after the other, the order swapped from pair to pair, so a burst of
// load on a shared machine falls on both halves of a pair and cancels in
// their ratio. The figure is the median of the pairs' ratios, with their
// spread.
#pragma once
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

struct PairedFigure {
  std::vector<double> ratios;  // bound time / program time, one per pair
  std::vector<double> programSeconds;
  double Median() const { return MedianOf(ratios); }
  double Min() const { return *std::min_element(ratios.begin(), ratios.end()); }
  double Max() const { return *std::max_element(ratios.begin(), ratios.end()); }
  double MedianProgramSeconds() const { return MedianOf(programSeconds); }

  static double MedianOf(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
  }
};

// Each run returns its time in seconds, or nullopt when it failed (which
// ends the measurement).
using TimedRun = std::function<std::optional<double>()>;

inline std::optional<PairedFigure> RunPairs(const char* name, int pairs, const TimedRun& program, const TimedRun& bound) {
  PairedFigure figure;
  for (int pair = 0; pair < pairs; ++pair) {
    std::optional<double> p, b;
    if (pair % 2 == 0) {
      p = program();
      b = p ? bound() : std::nullopt;
    } else {
      b = bound();
      p = b ? program() : std::nullopt;
    }
    if (!p || !b) return std::nullopt;
    figure.ratios.push_back(*b / *p);
    figure.programSeconds.push_back(*p);
    std::printf("%s pair %d: program %.3f s, bound %.3f s, ratio %.3f\n", name, pair + 1, *p, *b, *b / *p);
    std::fflush(stdout);
  }
  return figure;
}
