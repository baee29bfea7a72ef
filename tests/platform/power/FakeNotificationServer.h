#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace kx::testing {

// org.freedesktop.Notifications on a private bus, recording what it is asked to show. While held,
// Notify does not answer: the bubble server is stuck.
class FakeNotificationServer {
public:
    struct Notice {
        std::string application;
        std::uint32_t replaces = 0;
        std::string icon, body;
        std::vector<std::string> actions;
        std::uint8_t urgency = 0;
        std::int32_t timeout = -1;
    };

    explicit FakeNotificationServer(const std::string& address)
        : bus_(sdbus::createSessionBusConnectionWithAddress(address)) {
        bus_->requestName(kInterface);
        object_ = sdbus::createObject(*bus_, "/org/freedesktop/Notifications");
        object_->registerMethod("Notify")
            .onInterface(kInterface)
            .implementedAs([this](const std::string& application, std::uint32_t replaces, const std::string& icon,
                                  const std::string&, const std::string& body, const std::vector<std::string>& actions,
                                  const std::map<std::string, sdbus::Variant>& hints, std::int32_t timeout) {
                Notice notice{application, replaces, icon, body, actions, 0, timeout};
                if (auto urgency = hints.find("urgency"); urgency != hints.end())
                    notice.urgency = urgency->second.get<std::uint8_t>();
                return notify(std::move(notice));
            });
        object_->registerMethod("CloseNotification").onInterface(kInterface).implementedAs([this](std::uint32_t id) {
            std::lock_guard guard(mutex_);
            closed_.push_back(id);
        });
        object_->registerSignal("ActionInvoked").onInterface(kInterface).withParameters<std::uint32_t, std::string>();
        object_->finishRegistration();
        bus_->enterEventLoopAsync();
    }
    ~FakeNotificationServer() {
        releaseHold();
        bus_->leaveEventLoop();
        object_.reset();
    }

    std::vector<Notice> notices() const {
        std::lock_guard guard(mutex_);
        return notices_;
    }
    std::vector<std::uint32_t> closed() const {
        std::lock_guard guard(mutex_);
        return closed_;
    }
    // The user presses a button of a bubble.
    void press(std::uint32_t id, const std::string& button) {
        object_->emitSignal("ActionInvoked").onInterface(kInterface).withArguments(id, button);
    }
    void hold() {
        std::lock_guard guard(mutex_);
        holding_ = true;
    }
    void releaseHold() {
        std::lock_guard guard(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    // True once a Notify call is waiting behind the hold.
    bool waitUntilStuck() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [this] { return stuck_ > 0; });
    }

private:
    static constexpr const char* kInterface = "org.freedesktop.Notifications";

    std::uint32_t notify(Notice notice) {
        std::unique_lock lock(mutex_);
        ++stuck_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !holding_; });
        --stuck_;
        notices_.push_back(std::move(notice));
        // The server keeps the identifier it is asked to replace, as real servers do.
        return notices_.back().replaces != 0 ? notices_.back().replaces : nextID_++;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Notice> notices_;
    std::vector<std::uint32_t> closed_;
    std::uint32_t nextID_ = 1;
    bool holding_ = false;
    int stuck_ = 0;
    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace kx::testing
