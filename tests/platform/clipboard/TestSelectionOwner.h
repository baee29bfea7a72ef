#pragma once

#include <poll.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace kx::testing {

// Another application on the display: takes the CLIPBOARD selection and offers exactly the given
// targets (name to value) until it is destroyed, the way a password manager marks its items.
class TestSelectionOwner {
public:
    explicit TestSelectionOwner(std::map<std::string, std::string> items) : items_(std::move(items)) {
        display_ = XOpenDisplay(nullptr);
        if (!display_) return;
        window_ = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        clipboard_ = XInternAtom(display_, "CLIPBOARD", False);
        targets_ = XInternAtom(display_, "TARGETS", False);
        XSetSelectionOwner(display_, clipboard_, window_, CurrentTime);
        owns_ = XGetSelectionOwner(display_, clipboard_) == window_;
        thread_ = std::jthread([this](std::stop_token stop) { serve(stop); });
    }
    ~TestSelectionOwner() {
        if (!display_) return;
        thread_.request_stop();
        thread_.join();
        XCloseDisplay(display_);
    }
    TestSelectionOwner(const TestSelectionOwner&) = delete;
    TestSelectionOwner& operator=(const TestSelectionOwner&) = delete;

    bool ownsSelection() const { return owns_; }

private:
    void serve(std::stop_token stop) {
        constexpr int kPollMilliseconds = 20;
        while (!stop.stop_requested()) {
            while (XPending(display_) > 0) {
                XEvent event;
                XNextEvent(display_, &event);
                if (event.type == SelectionRequest) answer(event.xselectionrequest);
            }
            pollfd ready{ConnectionNumber(display_), POLLIN, 0};
            ::poll(&ready, 1, kPollMilliseconds);
        }
    }

    void answer(const XSelectionRequestEvent& request) {
        XEvent reply{};
        reply.xselection.type = SelectionNotify;
        reply.xselection.requestor = request.requestor;
        reply.xselection.selection = request.selection;
        reply.xselection.target = request.target;
        reply.xselection.property = None;
        reply.xselection.time = request.time;
        if (request.target == targets_) {
            std::vector<Atom> offered{targets_};
            for (const auto& [name, value] : items_) offered.push_back(XInternAtom(display_, name.c_str(), False));
            XChangeProperty(display_, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(offered.data()), static_cast<int>(offered.size()));
            reply.xselection.property = request.property;
        } else if (char* name = XGetAtomName(display_, request.target)) {
            if (auto item = items_.find(name); item != items_.end()) {
                XChangeProperty(display_, request.requestor, request.property, request.target, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(item->second.data()),
                                static_cast<int>(item->second.size()));
                reply.xselection.property = request.property;
            }
            XFree(name);
        }
        XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
        XFlush(display_);
    }

    std::map<std::string, std::string> items_;
    Display* display_ = nullptr;
    Window window_ = None;
    Atom clipboard_ = None, targets_ = None;
    bool owns_ = false;
    std::jthread thread_;
};

}  // namespace kx::testing
