#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <sdbus-c++/sdbus-c++.h>

#include "tests/support/Recorder.h"

namespace kx::testing {

// org.freedesktop.login1 on a private bus: records PowerOff, Reboot and Suspend instead of acting,
// or refuses them the way polkit does. Inhibit answers with the write end of a pipe whose read end
// it keeps: the lock is held while that read end sees no end of file. Every process belongs to
// one session (sessionPath), whose Lock and SetBrightness are recorded too.
class FakeLogind {
public:
    struct Call {
        std::string method;
        bool interactive = true;
        std::string arguments = {};  // SetBrightness: "subsystem name value"
        friend bool operator==(const Call&, const Call&) = default;
    };

    static constexpr const char* sessionPath = "/org/freedesktop/login1/session/_31";

    explicit FakeLogind(const std::string& address, bool refuse = false);
    ~FakeLogind();

    std::vector<Call> calls() const { return calls_.entries(); }
    bool waitFor(std::size_t count) { return calls_.waitForCount(count); }
    // The arguments of the last Inhibit call, and whether its lock has been let go since.
    std::vector<std::string> inhibitArguments() const;
    bool lockReleased() const;

private:
    void record(std::string method, bool interactive, std::string arguments = {});

    const bool refuse_;
    Recorder<Call> calls_;
    mutable std::mutex mutex_;  // guards the inhibit lock's state
    std::vector<std::string> inhibitArguments_;
    int lockReadEnd_ = -1;

    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
    std::unique_ptr<sdbus::IObject> session_;
};

}  // namespace kx::testing
