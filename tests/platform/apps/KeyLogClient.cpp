// A managed X window of the class given as the first argument that prints one line per event it
// gets: "ready" once mapped, "focus" when it takes the keyboard focus, "key <keysym> <state>" in
// hexadecimal for each key press. It ends when the window manager asks it to close. It carries
// icons of 16, 64 and 48 pixels (each pixel its size); with "dock" as second argument it is a panel.
#include <unistd.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    Display* display = XOpenDisplay(nullptr);
    if (!display) return 1;
    XSetWindowAttributes attributes{};
    attributes.event_mask = KeyPressMask | FocusChangeMask | StructureNotifyMask;
    const Window window = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 320, 200, 0, CopyFromParent,
                                        InputOutput, CopyFromParent, CWEventMask, &attributes);
    std::string instance = "kxkeylog", className = argv[1];
    XClassHint hint{instance.data(), className.data()};
    XSetClassHint(display, window, &hint);
    XStoreName(display, window, argv[1]);
    long pid = getpid();
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&pid), 1);
    Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(display, window, &deleteWindow, 1);
    std::vector<long> icons;
    for (long size : {16, 64, 48}) {
        icons.insert(icons.end(), {size, size});
        icons.insert(icons.end(), size * size, size);
    }
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_ICON", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(icons.data()), static_cast<int>(icons.size()));
    if (argc > 2 && std::string(argv[2]) == "dock") {
        Atom dock = XInternAtom(display, "_NET_WM_WINDOW_TYPE_DOCK", False);
        XChangeProperty(display, window, XInternAtom(display, "_NET_WM_WINDOW_TYPE", False), XA_ATOM, 32,
                        PropModeReplace, reinterpret_cast<unsigned char*>(&dock), 1);
    }
    XMapWindow(display, window);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify) std::printf("ready\n");
        if (event.type == FocusIn) std::printf("focus\n");
        if (event.type == KeyPress) {
            KeySym keysym = NoSymbol;
            char text[16];
            XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
            std::printf("key %lx %x\n", keysym, event.xkey.state);
        }
        if (event.type == ClientMessage && static_cast<Atom>(event.xclient.data.l[0]) == deleteWindow) break;
        std::fflush(stdout);
    }
    XCloseDisplay(display);
    return 0;
}
