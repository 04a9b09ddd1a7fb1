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

}  // namespace quorvel::bench
