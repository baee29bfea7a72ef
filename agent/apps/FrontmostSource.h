#pragma once

#include <functional>
#include <optional>
#include <string>

namespace kx {

// The application a user is working in, by the same identifier the application methods use.
struct FrontmostApp {
    std::string bundleID;
    std::string name;
    bool operator==(const FrontmostApp&) const = default;
};

// Where the frontmost application comes from, and a watch on its changes.
class FrontmostSource {
public:
    virtual ~FrontmostSource() = default;
    // None when no application is frontmost or the desktop cannot be read.
    virtual std::optional<FrontmostApp> frontmost() = 0;
    // Calls onChange, from a thread of the source's own, each time another application becomes
    // frontmost (compared by application, not by window; short flickers through "none" are ignored).
    // Calling it again replaces the callback.
    virtual void startObserving(std::function<void()> onChange) = 0;
    // After it returns, onChange is not called again.
    virtual void stopObserving() = 0;
};

}  // namespace kx
