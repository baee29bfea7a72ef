#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "agent/apps/InstalledApp.h"

namespace kx {

// Draws an application's icon as icon text (Base64 of a 48 x 48 pixel PNG); none when it cannot.
using IconRender = std::function<std::optional<std::string>(const InstalledApp&)>;

// Icons by application identifier for the life of the agent (never evicted). A render that fails
// is not remembered, so the next request tries again.
class IconCache {
public:
    explicit IconCache(IconRender render) : render_(std::move(render)) {}

    // Renders outside the lock; two concurrent misses may both render, the later store wins.
    std::optional<std::string> icon(const InstalledApp& app);

private:
    IconRender render_;
    std::mutex lock_;
    std::map<std::string, std::string> cache_;
};

}  // namespace kx
