#include "agent/installed/IconCache.h"

namespace kx {

std::optional<std::string> IconCache::icon(const InstalledApp& app) {
    {
        std::lock_guard guard(lock_);
        if (auto hit = cache_.find(app.bundleID); hit != cache_.end()) return hit->second;
    }
    auto rendered = render_ ? render_(app) : std::nullopt;
    if (rendered) {
        std::lock_guard guard(lock_);
        cache_[app.bundleID] = *rendered;
    }
    return rendered;
}

}  // namespace kx
