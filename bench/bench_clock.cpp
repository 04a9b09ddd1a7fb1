#include "bench_clock.h"

#include <algorithm>

namespace quorvel::bench {

double Stopwatch::Microseconds() const {
  LARGE_INTEGER now;
  LARGE_INTEGER frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart - start_.QuadPart) * 1e6 /
         static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
  if (values.empty()) {
    return 0;
  }
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Minimum(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

double PairedRatio(const std::vector<double>& values, const std::vector<double>& floors) {
  if (values.size() != floors.size()) {
    return 0;
  }
  std::vector<double> ratios;
  for (size_t i = 0; i < values.size(); ++i) {
    if (floors[i] > 0) {
      ratios.push_back(values[i] / floors[i]);
    }
  }
  return Median(ratios);
}

}  // namespace quorvel::bench
