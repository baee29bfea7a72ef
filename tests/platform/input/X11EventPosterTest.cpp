#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include "agent/control/InputMethods.h"
#include "platform/linux/input/X11EventPoster.h"
#include "platform/linux/input/XlibSetup.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/platform/input/PrivateXServer.h"
#include "tests/support/RouterCall.h"

using namespace kx;
using kx::test::PrivateXServer;

namespace {

// A window covering the screen with the input focus, served by a thread on its own X connection
// that turns each input event into a line as it arrives (while the keymap it was typed with still
// holds): "key <keysym> <state>", "press <button> <x> <y> <state>", "release <button> <x> <y>",
// "motion <x> <y>". After an action the test's connection sends the window a numbered sync
// message: the lines before its echo are exactly the events the action produced, because the
// server delivers events to a client in order.
class XEventLog {
public:
    static constexpr std::chrono::seconds timeout{10};

    XEventLog() {
        XInitThreads();  // two threads call Xlib
        display_ = XOpenDisplay(nullptr);
        if (!display_) throw std::runtime_error("no X display");
        syncAtom_ = XInternAtom(display_, "KX_SYNC", False);
        reader_ = std::jthread([this](std::stop_token stop) { read(stop); });
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return window_ != 0; }))
            throw std::runtime_error("the window never took the focus");
    }

    ~XEventLog() {
        reader_ = {};
        XCloseDisplay(display_);
    }

    XEventLog(const XEventLog&) = delete;
    XEventLog& operator=(const XEventLog&) = delete;

    // The lines for the events since the last call, motion left out unless asked for.
    std::vector<std::string> events(bool withMotion = false) {
        const long number = ++syncs_;
        XEvent message{};
        message.xclient.type = ClientMessage;
        message.xclient.window = window_;
        message.xclient.message_type = syncAtom_;
        message.xclient.format = 32;
        message.xclient.data.l[0] = number;
        XSendEvent(display_, window_, False, NoEventMask, &message);
        XSync(display_, False);
        const std::string end = "sync " + std::to_string(number);
        std::unique_lock lock(mutex_);
        if (!arrived_.wait_for(lock, timeout, [&] { return std::ranges::find(lines_, end) != lines_.end(); }))
            throw std::runtime_error("the sync message never arrived");
        std::vector<std::string> lines;
        for (auto line = lines_.begin(); *line != end; ++line)
            if (withMotion || line->rfind("motion ", 0) != 0) lines.push_back(*line);
        lines_.clear();
        return lines;
    }

    Display* display() const { return display_; }

    // Where the pointer is, and which buttons and modifiers are down.
    std::tuple<int, int, unsigned> pointer() const {
        Window root, child;
        int x = 0, y = 0, wx, wy;
        unsigned mask = 0;
        XQueryPointer(display_, DefaultRootWindow(display_), &root, &child, &x, &y, &wx, &wy, &mask);
        return {x, y, mask};
    }

private:
    void read(std::stop_token stop) {
        Display* display = XOpenDisplay(nullptr);
        if (!display) return;
        // Load Xlib's keyboard map now: loaded lazily at the first key event, it can miss a mapping
        // change made just before and report NoSymbol.
        XKeysymToKeycode(display, XK_space);
        const int screen = DefaultScreen(display);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;  // no window manager decoration or placement
        attributes.event_mask = KeyPressMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask |
                                FocusChangeMask | StructureNotifyMask;
        const Window window = XCreateWindow(display, RootWindow(display, screen), 0, 0, DisplayWidth(display, screen),
                                            DisplayHeight(display, screen), 0, CopyFromParent, InputOutput,
                                            CopyFromParent, CWOverrideRedirect | CWEventMask, &attributes);
        XMapRaised(display, window);
        XFlush(display);
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        while (!stop.stop_requested()) {
            if (!XPending(display)) {
                poll(&fd, 1, 50);
                continue;
            }
            XEvent event;
            XNextEvent(display, &event);
            char line[96] = "";
            const auto& b = event.xbutton;
            switch (event.type) {
                case MapNotify: XSetInputFocus(display, window, RevertToParent, CurrentTime); break;
                case MappingNotify: XRefreshKeyboardMapping(&event.xmapping); break;
                case FocusIn: {
                    std::lock_guard guard(mutex_);
                    window_ = window;
                    break;
                }
                case KeyPress: {
                    KeySym keysym = NoSymbol;
                    char text[32];
                    XLookupString(&event.xkey, text, sizeof text, &keysym, nullptr);
                    std::snprintf(line, sizeof line, "key %lx %x", keysym, event.xkey.state);
                    break;
                }
                case ButtonPress:
                    std::snprintf(line, sizeof line, "press %u %d %d %x", b.button, b.x_root, b.y_root, b.state);
                    break;
                case ButtonRelease:
                    std::snprintf(line, sizeof line, "release %u %d %d", b.button, b.x_root, b.y_root);
                    break;
                case MotionNotify:
                    std::snprintf(line, sizeof line, "motion %d %d", event.xmotion.x_root, event.xmotion.y_root);
                    break;
                case ClientMessage:
                    if (event.xclient.message_type == syncAtom_)
                        std::snprintf(line, sizeof line, "sync %ld", event.xclient.data.l[0]);
                    break;
            }
            std::lock_guard guard(mutex_);
            if (*line && window_) lines_.emplace_back(line);
            arrived_.notify_all();
        }
        XCloseDisplay(display);
    }

    Display* display_ = nullptr;
    Atom syncAtom_ = 0;
    std::jthread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> lines_;
    Window window_ = 0;
    long syncs_ = 0;
};

// The input methods on the real X display, with the event log's window covering the screen.
class X11Input : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set: no X server to test against";
        log = std::make_unique<XEventLog>();
        poster = std::make_shared<X11EventPoster>();
        registerInputMethods(router, std::make_shared<InputController>(poster, std::make_shared<InputMutex>()));
        log->events();  // drop whatever arrived while the window appeared
    }

    void ok(const std::string& method, JSONObject params = {}) {
        auto reply = kx::testing::call(router, method, std::move(params));
        ASSERT_EQ(reply, Envelope::success("1", JSONObject{})) << method << ": " << (reply.e ? reply.e->msg : "");
    }
    void moveTo(int x, int y) {
        auto [px, py, buttons] = log->pointer();
        ok("input.pointer.move", {{"dx", x - px}, {"dy", y - py}});
    }

    std::unique_ptr<XEventLog> log;
    std::shared_ptr<X11EventPoster> poster;
    CommandRouter router;
};

std::string keyLine(KeySym keysym, unsigned state) {
    char line[64];
    std::snprintf(line, sizeof line, "key %lx %x", keysym, state);
    return line;
}

// The characters that a sequence of "key" lines types, assuming Latin-1 and Unicode keysyms.
std::u32string textOf(const std::vector<std::string>& lines) {
    std::u32string text;
    for (const auto& line : lines) {
        unsigned long keysym = 0;
        if (std::sscanf(line.c_str(), "key %lx", &keysym) != 1) continue;
        text += keysym == XK_Return ? U'\n' : char32_t(keysym >= 0x01000000 ? keysym - 0x01000000 : keysym);
    }
    return text;
}

bool keymapHolds(Display* display, KeySym keysym) {
    int minKeycode = 0, maxKeycode = 0, per = 0;
    XDisplayKeycodes(display, &minKeycode, &maxKeycode);
    KeySym* symbols = XGetKeyboardMapping(display, minKeycode, maxKeycode - minKeycode + 1, &per);
    bool found = false;
    for (int i = 0; i < (maxKeycode - minKeycode + 1) * per; ++i) found = found || symbols[i] == keysym;
    XFree(symbols);
    return found;
}

}  // namespace

TEST_F(X11Input, ClicksArriveAsPressReleasePairsOfTheRightButton) {
    moveTo(400, 200);
    ok("input.pointer.click", {{"count", 2}});
    EXPECT_EQ(log->events(), (std::vector<std::string>{"press 1 400 200 0", "release 1 400 200", "press 1 400 200 0",
                                                       "release 1 400 200"}));
    ok("input.pointer.click", {{"button", "right"}});
    ok("input.pointer.click", {{"button", "middle"}, {"count", 0}});
    EXPECT_EQ(log->events(), (std::vector<std::string>{"press 3 400 200 0", "release 3 400 200", "press 2 400 200 0",
                                                       "release 2 400 200"}));
}

TEST_F(X11Input, DragPressesMovesAndReleasesTheLeftButton) {
    moveTo(100, 100);
    log->events();
    ok("input.pointer.drag", {{"phase", "begin"}, {"dx", 10}});
    ok("input.pointer.drag", {{"dx", 29.6}, {"dy", 40}});  // lands on the nearest pixel
    ok("input.pointer.drag", {{"phase", "end"}});
    EXPECT_EQ(log->events(true),
              (std::vector<std::string>{"motion 110 100", "press 1 110 100 0", "motion 140 140", "release 1 140 140"}));
}

TEST_F(X11Input, AClosedSessionReleasesOnlyTheButtonItsOwnDragHolds) {
    auto drag = [&](std::uint64_t connection) {
        auto request = Envelope::request("1", "input.pointer.drag", JSONObject{{"phase", "begin"}});
        ASSERT_TRUE(router.dispatch(request, RequestContext{"device", true, connection}).ok);
    };
    auto leftButtonDown = [&] { return (std::get<2>(log->pointer()) & Button1Mask) != 0; };
    const struct {
        bool begin;
        std::uint64_t connection;
        bool downAfter;
    } steps[] = {
        {true, 7, true},   {false, 8, true},                     // a session that pressed nothing releases nothing
        {false, 7, false}, {false, 7, false},                    // released once, and nothing more to release
        {true, 7, true},   {true, 9, true},   {false, 7, true},  // the other session's drag still holds it
        {false, 9, false},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        if (steps[i].begin)
            drag(steps[i].connection);
        else
            router.connectionClosed(steps[i].connection);
        EXPECT_EQ(leftButtonDown(), steps[i].downAfter) << "after step " << i;
    }
    ok("input.pointer.drag", {{"phase", "end"}});  // the button is up for the next test whatever happened
}

TEST_F(X11Input, ScrollingTurnsPixelsIntoWheelClicksInTheirDirection) {
    moveTo(300, 300);
    ok("input.pointer.scroll", {{"dy", 2 * WheelSteps::pixelsPerStep}});
    EXPECT_EQ(log->events(), (std::vector<std::string>{"press 4 300 300 0", "release 4 300 300", "press 4 300 300 0",
                                                       "release 4 300 300"}));
    ok("input.pointer.scroll", {{"dy", -WheelSteps::pixelsPerStep}, {"dx", WheelSteps::pixelsPerStep}});
    ok("input.pointer.scroll", {{"dx", -WheelSteps::pixelsPerStep}});
    EXPECT_EQ(log->events(), (std::vector<std::string>{"press 5 300 300 0", "release 5 300 300", "press 6 300 300 0",
                                                       "release 6 300 300", "press 7 300 300 0", "release 7 300 300"}));
    // A slow scroll adds up until it makes a whole click.
    for (int i = 0; i < 4; ++i) ok("input.pointer.scroll", {{"dy", -WheelSteps::pixelsPerStep / 4.0}});
    EXPECT_EQ(log->events(), (std::vector<std::string>{"press 5 300 300 0", "release 5 300 300"}));
}

TEST_F(X11Input, KeyChordsArriveWithTheirModifiersHeld) {
    ok("input.key", {{"chord", "ctrl+shift+t"}});
    ok("input.key", {{"chord", "meta+q"}});
    ok("input.key", {{"chord", "alt+f13"}});  // F13 is missing from the default keymap
    ok("input.key", {{"chord", "ctrl+"}});    // the plus key
    EXPECT_EQ(
        log->events(),
        (std::vector<std::string>{
            keyLine(XK_Control_L, 0), keyLine(XK_Shift_L, ControlMask), keyLine(XK_T, ControlMask | ShiftMask),
            keyLine(XK_Super_L, 0), keyLine(XK_q, Mod4Mask), keyLine(XK_Alt_L, 0), keyLine(XK_F13, Mod1Mask),
            keyLine(XK_Control_L, 0), keyLine(XK_Shift_L, ControlMask), keyLine(XK_plus, ControlMask | ShiftMask)}));
}

TEST_F(X11Input, TextArrivesExactlyAndTemporaryKeysAreRestored) {
    const std::string text = "héllo ✓ 👍\nÉ";
    ok("input.text", {{"text", text}});
    auto lines = log->events();
    EXPECT_EQ(textOf(lines), U"héllo ✓ 👍\nÉ") << ::testing::PrintToString(lines);
    EXPECT_TRUE(keymapHolds(log->display(), 0x01000000 + 0x1F44D));

    // Bindings are restored once idle.
    const auto deadline = std::chrono::steady_clock::now() + XEventLog::timeout;
    while (keymapHolds(log->display(), 0x01000000 + 0x1F44D) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(keymapHolds(log->display(), 0x01000000 + 0x1F44D));
    EXPECT_FALSE(keymapHolds(log->display(), 0x01000000 + 0x2713));
}

TEST_F(X11Input, ManyDistinctCharactersOutnumberingTheSpareKeysStillArriveInOrder) {
    const std::u32string letters = U"АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмноп";  // none on the keymap
    ok("input.text", {{"text", "АБВГДЕЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдежзийклмноп"}});
    auto lines = log->events();
    EXPECT_EQ(textOf(lines), letters) << ::testing::PrintToString(lines);
}

// What the phone is told then is the agent's own test; here, what the poster reports.
TEST(X11InputWithoutDisplay, AccessibilityIsNotGrantedAndNothingIsKnown) {
    X11EventPoster poster("unix:65000");  // a display nobody serves
    EXPECT_FALSE(poster.mayInjectInput());
    EXPECT_FALSE(poster.pointerLocation().has_value());
    EXPECT_EQ(poster.screenFrames(), std::vector<Rect>{});
}

TEST(X11InputServerLoss, TheAgentOutlivesItsXServerAndReconnects) {
    // A number far above those Xvfb hands out on its own, so that no other test's server takes it
    // while this one is down.
    const int number = 500 + ::getpid() % 400;
    PrivateXServer first(number);
    if (!first.number()) GTEST_SKIP() << "Xvfb is not available";
    X11EventPoster poster(first.name());
    ASSERT_TRUE(poster.mayInjectInput());
    poster.postMouse({MouseEventType::moved, {30, 40}, MouseButton::left, std::nullopt});
    poster.flush();
    EXPECT_EQ(poster.pointerLocation(), (Point{30, 40}));

    first.stop();
    poster.postMouse({MouseEventType::moved, {50, 60}, MouseButton::left, std::nullopt});
    poster.flush();  // the lost connection is noticed here, without ending the process
    EXPECT_FALSE(poster.mayInjectInput());
    EXPECT_FALSE(poster.pointerLocation().has_value());

    PrivateXServer second(number);
    ASSERT_EQ(second.number(), number);
    const auto deadline = std::chrono::steady_clock::now() + 2 * X11Connection::retryInterval + std::chrono::seconds(5);
    while (!poster.mayInjectInput() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(poster.mayInjectInput());
    poster.postMouse({MouseEventType::moved, {70, 80}, MouseButton::left, std::nullopt});
    poster.flush();
    EXPECT_EQ(poster.pointerLocation(), (Point{70, 80}));
    EXPECT_EQ(poster.screenFrames(), (std::vector<Rect>{{0, 0, 640, 480}}));
}

// A server that stops answering holds a call, or an opening, no longer than the time limit; while
// one thread waits on it another is turned away at once instead of queueing behind it; and the
// connection comes back when the server answers again.
TEST(X11InputServerHang, CallsAndOpeningsOnAStoppedServerEndWithinTheTimeLimit) {
    PrivateXServer server;
    if (!server.number()) GTEST_SKIP() << "Xvfb is not available";
    X11EventPoster poster(server.name());
    bool ran = false;
    EXPECT_FALSE(poster.tryAtOnce([&] { ran = true; })) << "the display is not open yet";
    ASSERT_TRUE(poster.mayInjectInput());
    EXPECT_TRUE(poster.tryAtOnce([&] { ran = poster.pointerLocation().has_value(); }));
    EXPECT_TRUE(ran);

    server.signal(SIGSTOP);
    const auto started = std::chrono::steady_clock::now();
    auto waiting = std::async(std::launch::async, [&] { return poster.pointerLocation(); });
    // Turned away once the waiting call holds the connection, while that call still waits.
    EXPECT_TRUE(e2e::eventually([&] { return !poster.tryAtOnce([] {}); }, X11Connection::callTimeLimit / 2));
    EXPECT_EQ(waiting.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    ASSERT_EQ(waiting.wait_for(5 * X11Connection::callTimeLimit), std::future_status::ready);
    EXPECT_FALSE(waiting.get().has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - started, X11Connection::callTimeLimit);

    std::this_thread::sleep_for(X11Connection::retryInterval);
    auto reopening = std::async(std::launch::async, [&] { return poster.mayInjectInput(); });
    ASSERT_EQ(reopening.wait_for(5 * displayOpenTimeLimit), std::future_status::ready);
    EXPECT_FALSE(reopening.get());
    server.signal(SIGCONT);
    EXPECT_TRUE(e2e::eventually([&] { return poster.mayInjectInput(); }, std::chrono::seconds(10)));
}
