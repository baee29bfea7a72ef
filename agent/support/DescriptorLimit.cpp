#include "agent/support/DescriptorLimit.h"

#include <sys/resource.h>

#include <limits>

namespace kx {

std::string DescriptorLimit::description() const {
    if (soft > before) return "descriptor limit raised from " + std::to_string(before) + " to " + std::to_string(soft);
    std::string text = "descriptor limit " + std::to_string(soft);
    return soft == hard ? text + " (the most allowed)" : text + " (cannot raise it to " + std::to_string(hard) + ")";
}

DescriptorLimit raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return {};
    DescriptorLimit result{limit.rlim_cur, limit.rlim_cur, limit.rlim_max};
    if (limit.rlim_cur >= limit.rlim_max) return result;
    rlimit raised{limit.rlim_max, limit.rlim_max};
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) result.soft = limit.rlim_max;
    return result;
}

std::uint64_t softDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<std::uint64_t>::max();
    return limit.rlim_cur;
}

}  // namespace kx
