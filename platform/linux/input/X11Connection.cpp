#include "platform/linux/input/X11Connection.h"

#include <X11/extensions/XTest.h>

#include "platform/linux/input/XlibSetup.h"

namespace kx {

X11Connection::X11Connection(std::string displayName) : displayName_(std::move(displayName)) {}

X11Connection::~X11Connection() {
    std::lock_guard guard(lock_);
    close();
}

bool X11Connection::ensureOpen() {
    if (display_ && !lost_) return true;
    if (holding_) return false;
    close();
    const auto now = std::chrono::steady_clock::now();
    if (now < nextAttempt_) return false;
    nextAttempt_ = now + retryInterval;

    display_ = openDisplay(displayName_, &lost_);
    if (!display_) return false;
    watchdog_.watch(ConnectionNumber(display_));
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    bool hasXTest = false;
    {
        Watched watched(watchdog_);
        hasXTest = XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor) && !lost_;
    }
    if (!hasXTest) {
        close();
        return false;
    }
    // Our fake events must reach the server even while another client grabs it.
    XTestGrabControl(display_, True);
    ++generation_;
    return true;
}

void X11Connection::close() {
    watchdog_.watch(-1);
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
