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
    explicit TestSelectionOwner(std::map<std::string, std::string> items)
        : items_(std::move(items)), display_(XOpenDisplay(nullptr)) {
        if (!display_) return;
        Window window = XCreateSimpleWindow(display_, DefaultRootWindow(display_), 0, 0, 1, 1, 0, 0, 0);
        Atom clipboard = XInternAtom(display_, "CLIPBOARD", False);
        XSetSelectionOwner(display_, clipboard, window, CurrentTime);
        owns_ = XGetSelectionOwner(display_, clipboard) == window;
        thread_ = std::jthread([this](std::stop_token stop) {
            while (!stop.stop_requested()) {
                for (XEvent event; XPending(display_) > 0;)
                    if (XNextEvent(display_, &event); event.type == SelectionRequest) answer(event.xselectionrequest);
                pollfd ready{ConnectionNumber(display_), POLLIN, 0};
                ::poll(&ready, 1, 20);
            }
        });
    }
    ~TestSelectionOwner() {
        if (!display_) return;
        thread_.request_stop();
        thread_.join();
        XCloseDisplay(display_);
    }

    bool ownsSelection() const { return owns_; }

private:
    void answer(const XSelectionRequestEvent& request) {
        XEvent reply{};
        reply.xselection = {SelectionNotify, 0,    True,        display_, request.requestor, request.selection,
                            request.target,  None, request.time};
        std::vector<Atom> targets{XInternAtom(display_, "TARGETS", False)};
        for (const auto& item : items_) targets.push_back(XInternAtom(display_, item.first.c_str(), False));
        char* name = XGetAtomName(display_, request.target);
        if (request.target == targets.front()) {
            XChangeProperty(display_, request.requestor, request.property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(targets.data()), static_cast<int>(targets.size()));
            reply.xselection.property = request.property;
        } else if (auto item = items_.find(name); item != items_.end()) {
            XChangeProperty(display_, request.requestor, request.property, request.target, 8, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(item->second.data()),
                            static_cast<int>(item->second.size()));
            reply.xselection.property = request.property;
        }
        XFree(name);
        XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
        XFlush(display_);
    }

    std::map<std::string, std::string> items_;
    Display* display_;
    bool owns_ = false;
    std::jthread thread_;
};

}  // namespace kx::testing
