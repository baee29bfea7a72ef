#include "platform/linux/input/XlibSetup.h"

#include <mutex>

#include <X11/Xlib.h>

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

}  // namespace kx
