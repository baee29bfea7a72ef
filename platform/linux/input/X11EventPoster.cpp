#include "platform/linux/input/X11EventPoster.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/keysym.h>

#include "platform/linux/input/MacKeySymbols.h"
#include "platform/linux/input/TextKeysyms.h"

namespace kx {

namespace {

constexpr int kCurrentScreen = -1;
constexpr unsigned kButtonLeft = 1, kButtonMiddle = 2, kButtonRight = 3;
constexpr unsigned kWheelUp = 4, kWheelDown = 5, kWheelLeft = 6, kWheelRight = 7;
constexpr int kMonitorsMajor = 1, kMonitorsMinor = 5;  // RandR version that lists monitors

// Modifier keys in the order they are pressed; released in reverse.
struct ModifierKey {
    EventFlags flag;
    KeySym keysym;
};
constexpr ModifierKey kModifierKeys[] = {
    {eventFlags::control, XK_Control_L},
    {eventFlags::alternate, XK_Alt_L},
    {eventFlags::shift, XK_Shift_L},
    {eventFlags::command, XK_Super_L},  // "meta" is the Super key here
};

// X coordinates are signed 16-bit numbers.
int toXCoordinate(double value) {
    constexpr double lowest = std::numeric_limits<std::int16_t>::min();
    constexpr double highest = std::numeric_limits<std::int16_t>::max();
    return static_cast<int>(std::lround(std::clamp(value, lowest, highest)));
}

unsigned xButton(MouseButton button) {
    switch (button) {
        case MouseButton::right: return kButtonRight;
        case MouseButton::center: return kButtonMiddle;
        case MouseButton::left: break;
    }
    return kButtonLeft;
}

std::optional<bool> pressOf(MouseEventType type) {
    switch (type) {
        case MouseEventType::leftDown:
        case MouseEventType::rightDown:
        case MouseEventType::otherDown: return true;
        case MouseEventType::leftUp:
        case MouseEventType::rightUp:
        case MouseEventType::otherUp: return false;
        case MouseEventType::moved:
        case MouseEventType::leftDragged: break;
    }
    return std::nullopt;
}

std::optional<std::pair<int, int>> queryPointer(Display* display) {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, windowX = 0, windowY = 0;
    unsigned mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX, &windowY, &mask))
        return std::nullopt;
    return std::make_pair(rootX, rootY);
}

void clickWheel(Display* display, unsigned button, std::int64_t times) {
    for (std::int64_t i = 0; i < times; ++i) {
        XTestFakeButtonEvent(display, button, True, CurrentTime);
        XTestFakeButtonEvent(display, button, False, CurrentTime);
    }
}

}  // namespace

X11EventPoster::X11EventPoster(std::string displayName)
    : connection_(std::move(displayName)), restorer_([this](std::stop_token stop) { restoreLoop(stop); }) {}

X11EventPoster::~X11EventPoster() {
    restorer_.request_stop();
    restorer_.join();
    connection_.ifOpen([&](Display* display) {
        if (connection_.generation() != serverGeneration_) return;
        keyboard_.restoreAll(display);
        XSync(display, False);
    });
}

void X11EventPoster::syncServer(Display* display) {
    if (connection_.generation() == serverGeneration_) return;
    serverGeneration_ = connection_.generation();
    keyboard_.reset();
    vertical_ = {};
    horizontal_ = {};
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    hasMonitors_ = XRRQueryExtension(display, &eventBase, &errorBase) && XRRQueryVersion(display, &major, &minor) &&
                   (major > kMonitorsMajor || (major == kMonitorsMajor && minor >= kMonitorsMinor));
}

bool X11EventPoster::mayInjectInput() {
    return connection_.with([](Display*) {});
}

void X11EventPoster::postMouse(const MouseEvent& event) {
    const auto target = std::make_pair(toXCoordinate(event.location.x), toXCoordinate(event.location.y));
    connection_.with([&](Display* display) {
        const auto press = pressOf(event.type);
        // A button event moves the pointer only when it is elsewhere, so that a click at the
        // pointer does not add motion events.
        if (!press || queryPointer(display) != target)
            XTestFakeMotionEvent(display, kCurrentScreen, target.first, target.second, CurrentTime);
        if (press) XTestFakeButtonEvent(display, xButton(event.button), *press ? True : False, CurrentTime);
    });
}

void X11EventPoster::postScroll(const ScrollEvent& event) {
    connection_.with([&](Display* display) {
        syncServer(display);
        const auto vertical = vertical_.add(event.wheel1);
        const auto horizontal = horizontal_.add(event.wheel2);
        clickWheel(display, vertical > 0 ? kWheelUp : kWheelDown, std::abs(vertical));
        clickWheel(display, horizontal > 0 ? kWheelLeft : kWheelRight, std::abs(horizontal));
    });
}

void X11EventPoster::pressModifiers(Display* display, EventFlags flags, bool press) {
    auto send = [&](const ModifierKey& modifier) {
        if (!(flags & modifier.flag)) return;
        if (auto keycode = keyboard_.modifierKey(display, modifier.keysym, connection_.mappingChanges()))
            XTestFakeKeyEvent(display, *keycode, press ? True : False, CurrentTime);
    };
    if (press)
        std::for_each(std::begin(kModifierKeys), std::end(kModifierKeys), send);
    else
        std::for_each(std::rbegin(kModifierKeys), std::rend(kModifierKeys), send);
}

void X11EventPoster::postKey(const KeyEvent& event) {
    const KeySym keysym = keysymForMacKeyCode(event.keyCode);
    if (keysym == NoSymbol) return;
    bool bound = false;
    connection_.with([&](Display* display) {
        syncServer(display);
        auto stroke = keyboard_.stroke(display, keysym, connection_.mappingChanges());
        bound = keyboard_.hasBindings();
        if (!stroke) return;
        const EventFlags flags = event.flags | (stroke->shift ? eventFlags::shift : eventFlags::none);
        if (event.down) {
            pressModifiers(display, flags, true);
            XTestFakeKeyEvent(display, stroke->keycode, True, CurrentTime);
        } else {
            XTestFakeKeyEvent(display, stroke->keycode, False, CurrentTime);
            pressModifiers(display, flags, false);
        }
    });
    if (bound) bindingsChanged();
}

void X11EventPoster::typeKeysym(Display* display, KeySym keysym) {
    auto stroke = keyboard_.stroke(display, keysym, connection_.mappingChanges());
    if (!stroke) return;
    const EventFlags flags = stroke->shift ? eventFlags::shift : eventFlags::none;
    pressModifiers(display, flags, true);
    XTestFakeKeyEvent(display, stroke->keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, stroke->keycode, False, CurrentTime);
    pressModifiers(display, flags, false);
}

void X11EventPoster::postText(const std::u16string& text) {
    const auto keysyms = keysymsForText(text);
    bool bound = false;
    connection_.with([&](Display* display) {
        syncServer(display);
        for (KeySym keysym : keysyms) typeKeysym(display, keysym);
        bound = keyboard_.hasBindings();
    });
    if (bound) bindingsChanged();
}

void X11EventPoster::flush() {
    connection_.with([](Display* display) { XSync(display, False); });
}

std::optional<Point> X11EventPoster::pointerLocation() {
    std::optional<Point> location;
    connection_.with([&](Display* display) {
        if (auto pointer = queryPointer(display)) location = Point{double(pointer->first), double(pointer->second)};
    });
    return location;
}

std::vector<Rect> X11EventPoster::screenFrames() {
    std::vector<Rect> frames;
    connection_.with([&](Display* display) {
        syncServer(display);
        const Window root = DefaultRootWindow(display);
        int count = 0;
        XRRMonitorInfo* monitors = hasMonitors_ ? XRRGetMonitors(display, root, True, &count) : nullptr;
        for (int i = 0; i < count; ++i) {
            const Rect frame{double(monitors[i].x), double(monitors[i].y), double(monitors[i].width),
                             double(monitors[i].height)};
            // The primary monitor is the main screen and comes first.
            if (monitors[i].primary)
                frames.insert(frames.begin(), frame);
            else
                frames.push_back(frame);
        }
        if (monitors) XRRFreeMonitors(monitors);
        if (frames.empty())
            frames.push_back({0, 0, double(DisplayWidth(display, DefaultScreen(display))),
                              double(DisplayHeight(display, DefaultScreen(display)))});
    });
    return frames;
}

bool X11EventPoster::tryAtOnce(const std::function<void()>& work) {
    return connection_.tryHold(work);
}

void X11EventPoster::bindingsChanged() {
    {
        std::lock_guard guard(restoreLock_);
        restoreKicked_ = true;
    }
    restoreWake_.notify_one();
}

void X11EventPoster::restoreLoop(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::optional<X11Keyboard::Clock::time_point> next;
        connection_.ifOpen([&](Display* display) {
            if (connection_.generation() != serverGeneration_) return;
            next = keyboard_.restoreIdle(display, X11Keyboard::Clock::now() - X11Keyboard::bindingLifetime);
            XFlush(display);
        });
        std::unique_lock lock(restoreLock_);
        auto kicked = [this] { return restoreKicked_; };
        if (next)
            restoreWake_.wait_until(lock, stop, *next, kicked);
        else
            restoreWake_.wait(lock, stop, kicked);
        restoreKicked_ = false;
    }
}

}  // namespace kx
