#include "platform/linux/input/X11Connection.h"

#include <X11/extensions/XTest.h>

namespace kx {

namespace {

// Xlib's default handlers end the process on any protocol error and on a lost connection; an
// agent that outlives its X server must not. Protocol errors of our requests are ignored (the
// event is skipped), and a lost connection is handled per display by onConnectionLost.
int ignoreProtocolError(Display*, XErrorEvent*) {
    return 0;
}
int returnFromIOError(Display*) {
    return 0;
}

}  // namespace

void X11Connection::prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ignoreProtocolError);
        XSetIOErrorHandler(returnFromIOError);
    });
}

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

    prepareXlib();
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!display_) return false;
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &eventBase, &errorBase, &major, &minor)) {
        close();
        return false;
    }
    XSetIOErrorExitHandler(display_, onConnectionLost, this);
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
