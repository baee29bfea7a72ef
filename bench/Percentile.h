#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kx::bench {

// The sample at `fraction` (0.5 for the median) of samples already sorted.
inline double percentileOfSorted(const std::vector<double>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    return sorted[static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1))];
}

// The sample at `fraction` of the samples, in any order.
inline double percentile(std::vector<double> samples, double fraction) {
    std::sort(samples.begin(), samples.end());
    return percentileOfSorted(samples, fraction);
}

}  // namespace kx::bench
