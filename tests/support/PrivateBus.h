#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "tests/support/Subprocess.h"
#include "tests/support/TempFolder.h"

namespace kx::testing {

// A dbus-daemon of the test's own, listening on a socket in a temporary folder. Nothing sent on
// it can reach the machine's system or session bus.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool running() const { return daemon_ != nullptr; }
    std::string address() const { return "unix:path=" + socket().string(); }
    std::filesystem::path folder() const { return folder_.path(); }

private:
    std::filesystem::path socket() const { return folder_ / "bus"; }

    TempFolder folder_{"bus"};
    std::unique_ptr<Subprocess> daemon_;
};

// A test on a bus of its own; skipped where dbus-daemon cannot start.
class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.running()) GTEST_SKIP() << "dbus-daemon is not available";
    }
    PrivateBus bus;
};

}  // namespace kx::testing
