#include "platform/linux/input/X11FocusPing.h"

#include <poll.h>

#include <atomic>
#include <optional>

#include <X11/Xatom.h>
#include <X11/Xutil.h>

namespace kx {

namespace {

struct PingAtoms {
    Atom protocols;
    Atom ping;
};

bool supportsPing(Display* display, Window window, const PingAtoms& atoms) {
    Atom* protocols = nullptr;
    int count = 0;
    if (!XGetWMProtocols(display, window, &protocols, &count)) return false;
    bool found = false;
    for (int i = 0; i < count; ++i) found = found || protocols[i] == atoms.ping;
    XFree(protocols);
    return found;
}

// The focus window or its nearest ancestor below the root that takes pings.
std::optional<Window> pingableFocus(Display* display, const PingAtoms& atoms) {
    Window window = 0;
    int revert = 0;
    XGetInputFocus(display, &window, &revert);
    const Window root = DefaultRootWindow(display);
    while (window != None && window != PointerRoot && window != root) {
        if (supportsPing(display, window, atoms)) return window;
        Window parent = 0, rootReturn = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, window, &rootReturn, &parent, &children, &count)) return std::nullopt;
        if (children) XFree(children);
        window = parent;
    }
    return std::nullopt;
}

struct Pong {
    Atom protocols;
    Atom ping;
    long serial;
};

Bool isPong(Display*, XEvent* event, XPointer arg) {
    const auto* pong = reinterpret_cast<const Pong*>(arg);
    return event->type == ClientMessage && event->xclient.message_type == pong->protocols &&
           static_cast<Atom>(event->xclient.data.l[0]) == pong->ping && event->xclient.data.l[1] == pong->serial;
}

bool awaitPong(Display* display, Pong& pong, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    XEvent event;
    for (;;) {
        if (XCheckIfEvent(display, &event, isPong, reinterpret_cast<XPointer>(&pong))) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd connection{ConnectionNumber(display), POLLIN, 0};
        if (poll(&connection, 1, static_cast<int>(left.count())) > 0) XEventsQueued(display, QueuedAfterReading);
    }
}

}  // namespace

bool pingFocusedClient(Display* display, std::chrono::milliseconds timeout) {
    const PingAtoms atoms{XInternAtom(display, "WM_PROTOCOLS", False), XInternAtom(display, "_NET_WM_PING", False)};
    const auto target = pingableFocus(display, atoms);
    if (!target) return false;

    // The answer goes to the root window; listen there only while waiting for it.
    static std::atomic<long> serials{1};
    Pong pong{atoms.protocols, atoms.ping, serials++};
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = *target;
    ping.xclient.message_type = atoms.protocols;
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(atoms.ping);
    ping.xclient.data.l[1] = pong.serial;  // stands in for the timestamp; echoed back unchanged
    ping.xclient.data.l[2] = static_cast<long>(*target);
    XSendEvent(display, *target, False, NoEventMask, &ping);
    XFlush(display);
    const bool answered = awaitPong(display, pong, timeout);
    XSelectInput(display, root, NoEventMask);
    return answered;
}

}  // namespace kx
