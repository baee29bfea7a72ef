#pragma once

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace kx::test {

// A window covering the screen with the input focus, served by a thread on its own X connection
// that turns each input event into a line as it arrives (while the keymap it was typed with still
// holds): "key <keysym> <state>", "press <button> <x> <y> <state>", "release <button> <x> <y>",
// "motion <x> <y>". After an action the test's connection sends the window a numbered sync
// message: the lines before its echo are exactly the events the action produced, because the
// server delivers events to a client in order.
class XEventLog {
public:
    static constexpr std::chrono::seconds timeout{10};

    XEventLog() {
        XInitThreads();  // two threads call Xlib
        display_ = XOpenDisplay(nullptr);
        if (!display_) throw std::runtime_error("no X display");
        syncAtom_ = XInternAtom(display_, "KX_SYNC", False);
        reader_ = std::jthread([this](std::stop_token stop) { read(stop); });
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return window_ != 0; }))
            throw std::runtime_error("the window never took the focus");
    }

    ~XEventLog() {
        reader_ = {};
        XCloseDisplay(display_);
    }

    XEventLog(const XEventLog&) = delete;
    XEventLog& operator=(const XEventLog&) = delete;

    // The lines for the events since the last call, motion left out unless asked for.
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
        const std::string end = "sync " + std::to_string(number);
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return std::ranges::find(lines_, end) != lines_.end(); }))
            throw std::runtime_error("the sync message never arrived");
        std::vector<std::string> lines;
        for (auto line = lines_.begin(); *line != end; ++line)
            if (withMotion || line->rfind("motion ", 0) != 0) lines.push_back(*line);
        lines_.clear();
        return lines;
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
    void read(std::stop_token stop) {
        Display* display = XOpenDisplay(nullptr);
        if (!display) return;
        // Load Xlib's keyboard map now: loaded lazily at the first key event, it can miss a mapping
        // change made just before and report NoSymbol.
        XKeysymToKeycode(display, XK_space);
        const int screen = DefaultScreen(display);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;  // no window manager decoration or placement
        attributes.event_mask = KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                                FocusChangeMask | StructureNotifyMask;
        const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, DisplayWidth(display, screen),
                                            DisplayHeight(display, screen), 0, CopyFromParent, InputOutput,
                                            CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(display, window);
        XFlush(display);
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        while (!stop.stop_requested()) {
            if (!XPending(display)) {
                poll(&fd, 1, 50);
                continue;
            }
            XEvent event;
            XNextEvent(display, &event);
            char line[96] = "";
            const auto& b = event.xbutton;
            switch (event.type) {
                case MapNotify: XSetInputFocus(display, window, RevertToParent, CurrentTime); break;
                case MappingNotify: XRefreshKeyboardMapping(&event.xmapping); break;
                case FocusIn: {
                    std::lock_guard guard(mutex_);
                    window_ = window;
                    break;
                }
                case KeyPress: {
                    KeySym keysym = NoSymbol;
                    char text[32];
                    XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
                    std::snprintf(line, sizeof line, "key %lx %x", keysym, event.xkey.state);
                    break;
                }
                case ButtonPress:
                    std::snprintf(line, sizeof line, "press %u %d %d %x", b.button, b.x_root, b.y_root, b.state);
                    break;
                case ButtonRelease:
                    std::snprintf(line, sizeof line, "release %u %d %d", b.button, b.x_root, b.y_root);
                    break;
                case MotionNotify:
                    std::snprintf(line, sizeof line, "motion %d %d", event.xmotion.x_root, event.xmotion.y_root);
                    break;
                case ClientMessage:
                    if (event.xclient.message_type == syncAtom_)
                        std::snprintf(line, sizeof line, "sync %ld", event.xclient.data.l[0]);
                    break;
            }
            std::lock_guard guard(mutex_);
            if (*line && window_) lines_.emplace_back(line);
            arrived_.notify_all();
        }
        XCloseDisplay(display);
    }

    Display* display_ = nullptr;
    Atom syncAtom_ = 0;
    std::jthread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> lines_;
    Window window_ = 0;
    long syncs_ = 0;
};

}  // namespace kx::test
