#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "tests/support/Subprocess.h"

namespace kx::test {

// Runs the event-logging X client and reads what it reports. The test's own X connection sends
// the logger a numbered sync message after an action: the lines before its echo are exactly the
// events the action produced, because the server delivers events to a client in order.
class XEventLog {
public:
    static constexpr std::chrono::seconds timeout{10};

    XEventLog() {
        display_ = XOpenDisplay(nullptr);
        if (!display_) throw std::runtime_error("no X display");
        syncAtom_ = XInternAtom(display_, "KX_SYNC", False);
        logger_ = std::make_unique<kx::testing::Subprocess>(
            std::vector<std::string>{KX_X_EVENT_LOGGER},
            kx::testing::Subprocess::Options{.pipeInput = true, .pipeOutput = true});
        output_ = logger_->output();
        auto line = readLine();
        if (!line || line->rfind("ready ", 0) != 0) throw std::runtime_error("event logger not ready");
        window_ = std::stoul(line->substr(6));
    }

    ~XEventLog() {
        logger_->closeInput();  // the logger exits when its input closes
        logger_->waitFor(timeout);
        logger_.reset();
        XCloseDisplay(display_);
    }

    XEventLog(const XEventLog&) = delete;
    XEventLog& operator=(const XEventLog&) = delete;

    // The lines reported since the last call, motion left out unless asked for.
    std::vector<std::string> events(bool withMotion = false) {
        const long number = ++syncs_;
        XEvent message{};
        message.xclient.type = ClientMessage;
        message.xclient.window = window_;
        message.xclient.message_type = syncAtom_;
        message.xclient.format = 32;
        message.xclient.data.l[0] = number;
        XSendEvent(display_, window_, False, NoEventMask, &message);
        XSync(display_, False);
        std::vector<std::string> lines;
        const std::string end = "sync " + std::to_string(number);
        for (;;) {
            auto line = readLine();
            if (!line) throw std::runtime_error("event logger went quiet");
            if (*line == end) return lines;
            if (withMotion || line->rfind("motion ", 0) != 0) lines.push_back(*line);
        }
    }

    Display* display() const { return display_; }

    std::pair<int, int> pointer() const {
        Window root, child;
        int x = 0, y = 0, wx, wy;
        unsigned mask;
        XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &wx, &wy, &mask);
        return {x, y};
    }

private:
    std::optional<std::string> readLine() { return kx::testing::Subprocess::readLine(output_, timeout); }

    Display* display_ = nullptr;
    Atom syncAtom_ = 0;
    std::unique_ptr<kx::testing::Subprocess> logger_;
    int output_ = -1;
    Window window_ = 0;
    long syncs_ = 0;
};

}  // namespace kx::test
