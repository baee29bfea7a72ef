#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include <X11/keysym.h>

#include "agent/control/InputMethods.h"
#include "platform/linux/input/X11EventPoster.h"
#include "tests/platform/input/PrivateXServer.h"
#include "tests/platform/input/XEventLog.h"

using namespace kx;
using kx::test::PrivateXServer;
using kx::test::XEventLog;

namespace {

const RequestContext kAuthed{"device", true};

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
        auto reply = router.dispatch(Envelope::request("1", method, std::move(params)), kAuthed);
        ASSERT_EQ(reply, Envelope::success("1", JSONObject{})) << method << ": " << (reply.e ? reply.e->msg : "");
    }
    void moveTo(int x, int y) {
        auto [px, py] = log->pointer();
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
    auto leftButtonDown = [&] {
        Window root = 0, child = 0;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned mask = 0;
        XQueryPointer(log->display(), DefaultRootWindow(log->display()), &root, &child, &rootX, &rootY, &x, &y, &mask);
        return (mask & Button1Mask) != 0;
    };
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
