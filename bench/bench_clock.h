#pragma once

#include <windows.h>

#include <vector>

namespace quorvel::bench {

// Time since construction, from the performance counter.
class Stopwatch {
 public:
  Stopwatch() { QueryPerformanceCounter(&start_); }
  double Microseconds() const;

 private:
  LARGE_INTEGER start_;
};

// The middle value of the repetitions (mean of the two middle ones for an even count); 0 for none.
double Median(std::vector<double> values);
// The smallest value; 0 for none.
double Minimum(const std::vector<double>& values);
// The median of values[i] / floors[i]: each repetition against the floor measured beside it, so
// that a slow spell of a shared machine weighs on both sides of a ratio. 0 when they do not pair.
double PairedRatio(const std::vector<double>& values, const std::vector<double>& floors);

}  // namespace quorvel::bench
