#pragma once

#include <string>

#include <X11/Xlib.h>

namespace kx {

// Makes Xlib safe for an agent that outlives its X server, once per process: threads enabled,
// protocol errors of our requests ignored (the request is skipped) instead of ending the process,
// and a lost connection left to each display's own exit handler (XSetIOErrorExitHandler).
void prepareXlib();

// Opens the named display (empty: the one DISPLAY names) after prepareXlib. When the connection
// breaks, Xlib calls onLost(display, context) instead of ending the process; the display is then
// only good for XCloseDisplay. Null when the display cannot be reached.
Display* openDisplay(const std::string& name, XIOErrorExitHandler onLost, void* context);

}  // namespace kx
