#pragma once

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "tests/support/Subprocess.h"

namespace kx::test {

// A private X server for one test, started by display number (or on a free one) and stopped by pid.
class PrivateXServer {
public:
    static constexpr int kStartTimeoutMs = 10000;

    explicit PrivateXServer(std::optional<int> number = std::nullopt) {
        constexpr int kDisplayDescriptor = 3;
        std::vector<std::string> args = {"Xvfb", "-screen", "0", "640x480x24", "-nolisten", "tcp", "-noreset"};
        if (number) args.insert(args.begin() + 1, ":" + std::to_string(*number));
        args.insert(args.end(), {"-displayfd", std::to_string(kDisplayDescriptor)});
        try {
            server_ = std::make_unique<kx::testing::Subprocess>(
                args, kx::testing::Subprocess::Options{.quiet = true, .notice = kDisplayDescriptor});
        } catch (const std::system_error&) {
            return;
        }
        // Xvfb writes the number and the newline separately, and ends if the pipe closes between.
        auto written = kx::testing::Subprocess::readLine(server_->notice(), std::chrono::milliseconds(kStartTimeoutMs));
        if (written) number_ = std::atoi(written->c_str());
    }
    ~PrivateXServer() { stop(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    void stop() { server_.reset(); }
    // SIGSTOP and SIGCONT: a server that hangs, then answers again.
    void signal(int number) const {
        if (server_) server_->signal(number);
    }
    std::optional<int> number() const { return number_; }
    std::string name() const { return ":" + std::to_string(number_.value_or(-1)); }

private:
    std::unique_ptr<kx::testing::Subprocess> server_;
    std::optional<int> number_;
};

}  // namespace kx::test
