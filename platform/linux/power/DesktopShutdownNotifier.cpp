#include "platform/linux/power/DesktopShutdownNotifier.h"

#include <chrono>
#include <map>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "platform/linux/power/BusMethod.h"

namespace kx {

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr const char* kApplicationName = "Kestrix";
constexpr const char* kSummary = "Kestrix";
// Critical urgency keeps the bubble up until it is closed, like the panel it stands for.
constexpr std::uint8_t kCriticalUrgency = 2;
constexpr std::int32_t kNeverExpires = 0;
constexpr const char* kCancelKey = "cancel";
constexpr const char* kCancelLabel = "Cancel";
constexpr const char* kNowKey = "now";

const char* iconFor(ShutdownAction action) {
    return action == ShutdownAction::restart ? "system-reboot" : "system-shutdown";
}

}  // namespace

DesktopShutdownNotifier::DesktopShutdownNotifier(BusOpener openBus, Buttons buttons)
    : openBus_(std::move(openBus)),
      buttons_(std::move(buttons)),
      worker_([this](std::stop_token stop) { run(stop); }) {}

DesktopShutdownNotifier::~DesktopShutdownNotifier() {
    show(std::nullopt);
    waitUntilIdle();
    worker_.request_stop();
    worker_.join();
    disconnect();
}

void DesktopShutdownNotifier::show(const std::optional<ShutdownCountdown::Snapshot>& snapshot) {
    {
        std::lock_guard guard(lock_);
        pending_ = snapshot;
    }
    wake_.notify_all();
}

void DesktopShutdownNotifier::waitUntilIdle() {
    std::unique_lock guard(lock_);
    wake_.wait(guard, [this] { return !pending_ && !working_; });
}

std::uint32_t DesktopShutdownNotifier::shownID() const {
    std::lock_guard guard(lock_);
    return shownID_;
}

void DesktopShutdownNotifier::run(std::stop_token stop) {
    std::unique_lock guard(lock_);
    while (wake_.wait(guard, stop, [this] { return pending_.has_value(); })) {
        const auto snapshot = std::move(*pending_);
        pending_.reset();
        working_ = true;
        guard.unlock();
        apply(snapshot);
        guard.lock();
        working_ = false;
        wake_.notify_all();
    }
}

void DesktopShutdownNotifier::apply(const std::optional<ShutdownCountdown::Snapshot>& snapshot) {
    try {
        if (snapshot) {
            notify(*snapshot);
        } else {
            close();
            // The next countdown tries the bus again: a notification server may have started.
            unavailable_ = false;
        }
    } catch (const sdbus::Error&) {
        // No notification server, or it refused: the countdown goes on without a bubble.
        unavailable_ = true;
        disconnect();
        std::lock_guard guard(lock_);
        shownID_ = 0;
    }
}

bool DesktopShutdownNotifier::connect() {
    if (server_) return true;
    if (unavailable_) return false;
    bus_ = openBus_();
    server_ = sdbus::createProxy(*bus_, kService, kPath);
    if (hasButtons()) {
        server_->uponSignal("ActionInvoked")
            .onInterface(kInterface)
            .call([this](std::uint32_t id, const std::string& button) { pressed(id, button); });
        server_->finishRegistration();
        bus_->enterEventLoopAsync();
    }
    return true;
}

void DesktopShutdownNotifier::disconnect() {
    // Leaving the event loop waits for a button handler that is still running.
    if (bus_ && hasButtons()) bus_->leaveEventLoop();
    server_.reset();
    bus_.reset();
}

void DesktopShutdownNotifier::pressed(std::uint32_t id, const std::string& button) const {
    // Signals from other applications' bubbles, or from one already replaced, are not ours.
    if (id == 0 || id != shownID()) return;
    std::function<void()> action;
    if (button == kCancelKey) action = buttons_.cancel;
    if (button == kNowKey) action = buttons_.now;
    if (!action) return;
    try {
        std::thread(std::move(action)).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the press is lost, as if the click had missed.
    }
}

void DesktopShutdownNotifier::notify(const ShutdownCountdown::Snapshot& snapshot) {
    if (!connect()) return;
    std::vector<std::string> actions;
    if (buttons_.cancel) actions.insert(actions.end(), {kCancelKey, kCancelLabel});
    if (buttons_.now) actions.insert(actions.end(), {kNowKey, snapshot.nowButtonTitle()});
    const std::map<std::string, sdbus::Variant> hints{{"urgency", sdbus::Variant(kCriticalUrgency)}};
    std::uint32_t replaces = shownID();
    std::uint32_t id = 0;
    server_->callMethod("Notify")
        .onInterface(kInterface)
        .withTimeout(busCallTimeLimit)
        .withArguments(kApplicationName, replaces, iconFor(snapshot.action), kSummary, snapshot.message(), actions,
                       hints, kNeverExpires)
        .storeResultsTo(id);
    std::lock_guard guard(lock_);
    shownID_ = id;
}

void DesktopShutdownNotifier::close() {
    const std::uint32_t id = shownID();
    if (id == 0 || !server_) return;
    {
        std::lock_guard guard(lock_);
        shownID_ = 0;
    }
    server_->callMethod("CloseNotification").onInterface(kInterface).withTimeout(busCallTimeLimit).withArguments(id);
}

}  // namespace kx
