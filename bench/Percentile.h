#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace kx::bench {

// The sample at `fraction` (0.5 for the median) of the sorted samples.
inline double percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) return 0;
    std::sort(samples.begin(), samples.end());
    return samples[static_cast<std::size_t>(fraction * static_cast<double>(samples.size() - 1))];
}

}  // namespace kx::bench
