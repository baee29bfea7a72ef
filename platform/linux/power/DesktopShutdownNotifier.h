#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <sdbus-c++/IConnection.h>
#include <sdbus-c++/IProxy.h>

#include "agent/power/ShutdownNotifying.h"
#include "platform/linux/power/BusOpener.h"

namespace kx {

// A desktop notification of the running countdown through org.freedesktop.Notifications on the
// session bus: one bubble, updated in place each second and closed when the countdown ends.
// Without a session bus or a notification server it silently shows nothing.
//
// D-Bus calls run on the notifier's own thread, so `show` never delays the countdown; only the
// newest state is sent when updates arrive faster than the server answers.
class DesktopShutdownNotifier : public ShutdownNotifying {
public:
    // The bubble's buttons, like the panel's "Cancel" and "Restart now". Each press runs on a
    // short-lived thread of its own, never on the bus's event thread, so a button may end up
    // releasing the notifier itself (which waits for that event thread).
    struct Buttons {
        std::function<void()> cancel;
        std::function<void()> now;
    };

    explicit DesktopShutdownNotifier(BusOpener openBus = sessionBusOpener(), Buttons buttons = {});
    // Closes a bubble that is still up.
    ~DesktopShutdownNotifier() override;

    void show(const std::optional<ShutdownCountdown::Snapshot>& snapshot) override;

    // Waits until every state handed to `show` has been sent (or given up on).
    void waitUntilIdle();
    // The server's identifier of the bubble on screen, 0 when none.
    std::uint32_t shownID() const;

private:
    void run(std::stop_token stop);
    void apply(const std::optional<ShutdownCountdown::Snapshot>& snapshot);
    bool connect();
    void disconnect();
    void notify(const ShutdownCountdown::Snapshot& snapshot);
    void close();
    void pressed(std::uint32_t id, const std::string& button) const;
    bool hasButtons() const { return buttons_.cancel || buttons_.now; }

    const BusOpener openBus_;
    const Buttons buttons_;

    mutable std::mutex lock_;
    std::condition_variable_any wake_;
    std::optional<std::optional<ShutdownCountdown::Snapshot>> pending_;
    bool working_ = false;
    std::uint32_t shownID_ = 0;

    // Touched only by the worker thread.
    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IProxy> server_;
    bool unavailable_ = false;

    std::jthread worker_;
};

}  // namespace kx
