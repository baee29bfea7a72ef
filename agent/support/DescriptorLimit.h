#pragma once

#include <cstdint>
#include <string>

namespace kx {

// The process's limit on open descriptors (RLIMIT_NOFILE) before and after raising it.
struct DescriptorLimit {
    std::uint64_t before = 0;  // soft limit found at start
    std::uint64_t soft = 0;    // soft limit now
    std::uint64_t hard = 0;

    // "descriptor limit raised from 256 to 4096" or "descriptor limit 4096 (the most allowed)".
    std::string description() const;
};

// Raises the soft descriptor limit to the hard one, so that every connection the agent may hold has a
// descriptor. Where the system refuses the hard limit as a soft one, the soft limit stays as it was.
DescriptorLimit raiseDescriptorLimit();
// The soft limit now; the largest value when there is none.
std::uint64_t softDescriptorLimit();

}  // namespace kx
