#include "platform/linux/input/X11Connection.h"

#include <X11/extensions/XTest.h>

#include "platform/linux/input/XlibSetup.h"

namespace kx {

X11Connection::X11Connection(std::string displayName) : displayName_(std::move(displayName)) {}

X11Connection::~X11Connection() {
    std::lock_guard guard(lock_);
    close();
}

void X11Connection::onConnectionLost(Display*, void* self) {
    static_cast<X11Connection*>(self)->lost_ = true;
}

bool X11Connection::ensureOpen() {
    if (display_ && !lost_) return true;
    close();
    const auto now = std::chrono::steady_clock::now();
    if (now < nextAttempt_) return false;
    nextAttempt_ = now + retryInterval;

    display_ = openDisplay(displayName_, onConnectionLost, this);
    if (!display_) return false;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor)) {
        close();
        return false;
    }
    // Our fake events must reach the server even while another client grabs it.
    XTestGrabControl(display_, True);
    ++generation_;
    return true;
}

void X11Connection::close() {
    if (display_) XCloseDisplay(display_);
    display_ = nullptr;
    lost_ = false;
}

void X11Connection::afterUse() {
    if (lost_) return;
    while (XEventsQueued(display_, QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) ++mappingChanges_;
    }
}

}  // namespace kx
