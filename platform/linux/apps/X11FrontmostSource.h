#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

#include "agent/apps/FrontmostSource.h"
#include "agent/apps/Workspace.h"

namespace kx {

// The frontmost application of an X desktop: the workspace's answer, watched through changes of
// _NET_ACTIVE_WINDOW on the root window on a thread of its own. A change is looked at once the
// property has been still for `debounce` (it passes through "none" when a window closes), and
// reported only when the application differs from the last one reported; "none" is never news.
class X11FrontmostSource : public FrontmostSource {
public:
    static constexpr std::chrono::milliseconds debounce{150};
    // How long the watcher waits before opening the display again after it was lost.
    static constexpr std::chrono::seconds reconnectInterval{1};

    // An empty display name means the display named by $DISPLAY.
    explicit X11FrontmostSource(std::shared_ptr<Workspace> workspace, std::string displayName = {});
    ~X11FrontmostSource() override;
    X11FrontmostSource(const X11FrontmostSource&) = delete;
    X11FrontmostSource& operator=(const X11FrontmostSource&) = delete;

    std::optional<FrontmostApp> frontmost() override;
    void startObserving(std::function<void()> onChange) override;
    void stopObserving() override;

private:
    void watch(std::stop_token stop, std::optional<std::string> lastReported);
    // Reports the frontmost application when it is another one than last reported.
    void check(std::optional<std::string>& lastReported);

    std::shared_ptr<Workspace> workspace_;
    std::string displayName_;
    std::mutex lock_;
    std::function<void()> onChange_;
    std::jthread watcher_;
};

}  // namespace kx
