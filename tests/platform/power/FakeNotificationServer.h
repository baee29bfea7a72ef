#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace kx::testing {

// org.freedesktop.Notifications on a private bus, recording what it is asked to show.
class FakeNotificationServer {
public:
    struct Notice {
        std::string application;
        std::uint32_t replaces = 0;
        std::string icon;
        std::string summary;
        std::string body;
        std::vector<std::string> actions;
        std::uint8_t urgency = 0;
        std::int32_t timeout = -1;
    };

    explicit FakeNotificationServer(const std::string& address);
    ~FakeNotificationServer();

    std::vector<Notice> notices() const;
    std::vector<std::uint32_t> closed() const;
    // Waits until `count` notices and `closes` closes have arrived.
    bool waitFor(std::size_t count, std::size_t closes = 0);
    // The user presses a button of a bubble.
    void press(std::uint32_t id, const std::string& button);
    // While held, Notify does not answer: the bubble server is stuck.
    void hold();
    void releaseHold();
    // True once a Notify call is waiting behind the hold.
    bool waitUntilStuck();

private:
    std::uint32_t notify(Notice notice);

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
