// A small X client for the input tests. It covers the screen with one window that has the input
// focus and writes one line to standard output for each input event it receives:
//   ready <window>                      once the window is mapped and focused
//   key <keysym> <state>                KeyPress, keysym as XLookupString sees it (hex)
//   press <button> <x> <y> <state>      ButtonPress (state hex)
//   release <button> <x> <y>            ButtonRelease
//   motion <x> <y>                      MotionNotify
//   sync <n>                            a KX_SYNC client message: everything before it has arrived
// It answers the window manager's ping, as applications do. It exits when its standard input closes.
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

namespace {

constexpr long kEventMask =
    KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask | FocusChangeMask | StructureNotifyMask;
constexpr int kLookupBufferSize = 32;

Window createWindow(Display* display) {
    const int screen = DefaultScreen(display);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;  // no window manager decoration or placement
    attributes.event_mask = kEventMask;
    Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, DisplayWidth(display, screen),
                                  DisplayHeight(display, screen), 0, CopyFromParent, InputOutput, CopyFromParent,
                                  CWOverrideRedirect | CWEventMask, &attributes);
    XMapRaised(display, window);
    return window;
}

struct Atoms {
    Atom sync;
    Atom protocols;
    Atom ping;
};

void answerPing(Display* display, XEvent event) {
    const Window root = DefaultRootWindow(display);
    event.xclient.window = root;
    XSendEvent(display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &event);
    XFlush(display);
}

void report(Display* display, const XEvent& event, const Atoms& atoms) {
    switch (event.type) {
        case KeyPress: {
            XKeyEvent key = event.xkey;
            KeySym keysym = NoSymbol;
            char text[kLookupBufferSize];
            XLookupString(&key, text, sizeof text, &keysym, nullptr);
            std::printf("key %lx %x\n", keysym, key.state);
            break;
        }
        case ButtonPress:
            std::printf("press %u %d %d %x\n", event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root,
                        event.xbutton.state);
            break;
        case ButtonRelease:
            std::printf("release %u %d %d\n", event.xbutton.button, event.xbutton.x_root, event.xbutton.y_root);
            break;
        case MotionNotify: std::printf("motion %d %d\n", event.xmotion.x_root, event.xmotion.y_root); break;
        case ClientMessage:
            if (event.xclient.message_type == atoms.protocols && Atom(event.xclient.data.l[0]) == atoms.ping) {
                answerPing(display, event);
                return;
            }
            if (event.xclient.message_type == atoms.sync) std::printf("sync %ld\n", event.xclient.data.l[0]);
            break;
        default: return;
    }
    std::fflush(stdout);
}

}  // namespace

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "x-event-logger: cannot open the display\n");
        return 1;
    }
    const Atoms atoms{XInternAtom(display, "KX_SYNC", False), XInternAtom(display, "WM_PROTOCOLS", False),
                      XInternAtom(display, "_NET_WM_PING", False)};
    // Load Xlib's keyboard map now, as applications do at start-up: loaded lazily at the first key
    // event, it can miss a mapping change made just before and report NoSymbol.
    XKeysymToKeycode(display, XK_space);
    const Window window = createWindow(display);
    Atom protocols[] = {atoms.ping};
    XSetWMProtocols(display, window, protocols, 1);
    bool ready = false;

    pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        while (XPending(display)) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify) XSetInputFocus(display, window, RevertToParent, CurrentTime);
            if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
            if (event.type == FocusIn && !ready) {
                ready = true;
                std::printf("ready %lu\n", window);
                std::fflush(stdout);
            }
            if (ready) report(display, event, atoms);
        }
        if (poll(fds, 2, -1) < 0) break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char ignored[64];
            if (read(STDIN_FILENO, ignored, sizeof ignored) <= 0) break;
        }
    }
    XCloseDisplay(display);
    return 0;
}
