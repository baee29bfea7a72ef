#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

namespace kx::testing {

// org.freedesktop.login1 on a private bus: records PowerOff and Reboot instead of acting, or
// refuses them the way polkit does.
class FakeLogind {
public:
    struct Call {
        std::string method;
        bool interactive = true;
        friend bool operator==(const Call&, const Call&) = default;
    };

    FakeLogind(const std::string& address, bool refuse);
    ~FakeLogind();

    std::vector<Call> calls() const;
    bool waitFor(std::size_t count);

private:
    void record(std::string method, bool interactive);

    const bool refuse_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;

    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
};

}  // namespace kx::testing
