#include "platform/linux/apps/X11FrontmostSource.h"

#include <poll.h>

#include <X11/Xlib.h>

#include "agent/support/Log.h"
#include "platform/linux/input/XlibSetup.h"

namespace kx {

namespace {

constexpr int kPollMilliseconds = 50;

}  // namespace

X11FrontmostSource::X11FrontmostSource(std::shared_ptr<Workspace> workspace, std::string displayName)
    : workspace_(std::move(workspace)), displayName_(std::move(displayName)) {}

X11FrontmostSource::~X11FrontmostSource() {
    stopObserving();
}

std::optional<FrontmostApp> X11FrontmostSource::frontmost() {
    return workspace_->frontmost();
}

void X11FrontmostSource::startObserving(std::function<void()> onChange) {
    std::lock_guard guard(lock_);
    onChange_ = std::move(onChange);
    if (watcher_.joinable()) return;
    // Taken before returning, so that a switch right after this call counts as one.
    std::optional<std::string> baseline;
    if (auto now = workspace_->frontmost()) baseline = now->bundleID;
    watcher_ = std::jthread([this, baseline](std::stop_token stop) { watch(stop, baseline); });
}

void X11FrontmostSource::stopObserving() {
    std::jthread watcher;
    {
        std::lock_guard guard(lock_);
        onChange_ = nullptr;
        // Called from the watcher's own callback it cannot wait for itself; the cleared callback
        // keeps the promise, and the destructor joins.
        if (watcher_.get_id() == std::this_thread::get_id()) {
            watcher_.request_stop();
            return;
        }
        watcher = std::move(watcher_);
    }
    // Joined outside the lock: the watcher takes it to call back.
}

void X11FrontmostSource::check(std::optional<std::string>& lastReported) {
    auto current = workspace_->frontmost();
    if (!current || current->bundleID == lastReported) return;
    lastReported = current->bundleID;
    std::function<void()> onChange;
    {
        std::lock_guard guard(lock_);
        onChange = onChange_;
    }
    if (!onChange) return;
    try {
        onChange();
    } catch (const std::exception& error) {
        log::error(std::string("frontmost change callback failed: ") + error.what());
    } catch (...) {
        log::error("frontmost change callback failed");
    }
}

void X11FrontmostSource::watch(std::stop_token stop, std::optional<std::string> lastReported) {
    while (!stop.stop_requested()) {
        bool lost = false;
        Display* display = openDisplay(displayName_, &lost);
        if (!display) {
            std::mutex sleepLock;
            std::condition_variable_any wake;
            std::unique_lock sleeping(sleepLock);
            wake.wait_for(sleeping, stop, reconnectInterval, [] { return false; });
            continue;
        }
        const Atom activeWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        XSelectInput(display, DefaultRootWindow(display), PropertyChangeMask);
        XFlush(display);
        // A change that happened while the display was away is caught up with at once.
        check(lastReported);

        // When to look at the frontmost application; never while nothing changed.
        constexpr auto never = std::chrono::steady_clock::time_point::max();
        auto due = never;
        pollfd ready{ConnectionNumber(display), POLLIN, 0};
        while (!stop.stop_requested() && !lost) {
            while (!lost && XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (event.type == PropertyNotify && event.xproperty.atom == activeWindow)
                    due = std::chrono::steady_clock::now() + debounce;
            }
            if (lost) break;
            if (due != never && std::chrono::steady_clock::now() >= due) {
                due = never;
                check(lastReported);
            }
            ::poll(&ready, 1, kPollMilliseconds);
        }
        XCloseDisplay(display);
    }
}

}  // namespace kx
