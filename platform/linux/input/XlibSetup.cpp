#include "platform/linux/input/XlibSetup.h"

#include <mutex>

namespace kx {

namespace {

int ignoreProtocolError(Display*, XErrorEvent*) {
    return 0;
}
int returnFromIOError(Display*) {
    return 0;
}

void markLost(Display* display, void* lost) {
    // Xlib takes the display's user lock for the process exit it expects, and keeps it when the
    // exit handler returns: give it back, or every other thread would wait for it forever, even
    // to close the display.
    XUnlockDisplay(display);
    if (lost) *static_cast<bool*>(lost) = true;
}

}  // namespace

void prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ignoreProtocolError);
        XSetIOErrorHandler(returnFromIOError);
    });
}

Display* openDisplay(const std::string& name, bool* lost) {
    prepareXlib();
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display) XSetIOErrorExitHandler(display, markLost, lost);
    return display;
}

}  // namespace kx
