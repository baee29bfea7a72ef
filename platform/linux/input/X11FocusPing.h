#pragma once

#include <chrono>

#include <X11/Xlib.h>

namespace kx {

// Waits until the application that has the keyboard focus has read every event sent to it so far,
// by sending it the window manager's ping (_NET_WM_PING) and waiting for the answer: a client
// answers in event order, so the key events before the ping were looked up in the keyboard
// mapping as it was. Returns false when the focused window does not take pings or does not answer
// in time. Events other than the answer stay queued.
bool pingFocusedClient(Display* display, std::chrono::milliseconds timeout);

}  // namespace kx
