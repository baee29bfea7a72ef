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

}  // namespace

void prepareXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        XInitThreads();
        XSetErrorHandler(ignoreProtocolError);
        XSetIOErrorHandler(returnFromIOError);
    });
}

Display* openDisplay(const std::string& name, XIOErrorExitHandler onLost, void* context) {
    prepareXlib();
    Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (display) XSetIOErrorExitHandler(display, onLost, context);
    return display;
}

}  // namespace kx
