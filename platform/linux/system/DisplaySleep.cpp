#include "platform/linux/system/DisplaySleep.h"

#include <X11/Xlib.h>
#include <X11/extensions/dpms.h>

#include <memory>

#include "platform/linux/input/XlibSetup.h"

namespace kx::DisplaySleep {

namespace {

struct CloseDisplay {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, CloseDisplay>;

// The connection serves one request: a server that goes away meanwhile only ends that request,
// never the agent.
DisplayHandle open(const std::optional<std::string>& display) {
    return DisplayHandle(openDisplay(display.value_or(""), nullptr));
}

}  // namespace

bool reachable(const std::optional<std::string>& display) {
    return open(display) != nullptr;
}

bool now(const std::optional<std::string>& display) {
    auto connection = open(display);
    if (!connection) return false;
    Display* x = connection.get();
    int eventBase = 0, errorBase = 0;
    if (DPMSQueryExtension(x, &eventBase, &errorBase) && DPMSCapable(x)) {
        CARD16 level = 0;
        BOOL enabled = False;
        DPMSInfo(x, &level, &enabled);
        // Forcing a level needs DPMS on, as `xset dpms force off` does.
        if (!enabled) DPMSEnable(x);
        DPMSForceLevel(x, DPMSModeOff);
    } else {
        XForceScreenSaver(x, ScreenSaverActive);
    }
    XSync(x, False);
    return true;
}

}  // namespace kx::DisplaySleep
