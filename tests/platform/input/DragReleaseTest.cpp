#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include <X11/Xlib.h>

#include "agent/control/InputMethods.h"
#include "platform/linux/input/X11EventPoster.h"

using namespace kx;

namespace {

// Drags through the router on the real X display; sessions end by the router's connection-closed call.
class DragRelease : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::getenv("DISPLAY")) GTEST_SKIP() << "DISPLAY is not set: no X server to test against";
        display.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(display);
        registerInputMethods(router, std::make_shared<InputController>(std::make_shared<X11EventPoster>(),
                                                                       std::make_shared<InputMutex>()));
    }
    // Leaves the button up for the next test whatever happened.
    void TearDown() override {
        if (display) drag("end", 0);
    }

    void drag(const std::string& phase, std::uint64_t connection) {
        auto reply = router.dispatch(Envelope::request("1", "input.pointer.drag", JSONObject{{"phase", phase}}),
                                     RequestContext{"device", true, connection});
        ASSERT_TRUE(reply.ok) << (reply.e ? reply.e->msg : "");
    }
    bool leftButtonDown() const {
        Window root = 0, child = 0;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned mask = 0;
        XQueryPointer(display.get(), DefaultRootWindow(display.get()), &root, &child, &rootX, &rootY, &x, &y, &mask);
        return (mask & Button1Mask) != 0;
    }

    struct CloseDisplay {
        void operator()(Display* d) const { XCloseDisplay(d); }
    };
    std::unique_ptr<Display, CloseDisplay> display;
    CommandRouter router;
};

}  // namespace

TEST_F(DragRelease, AClosedSessionReleasesOnlyTheButtonItsOwnDragHolds) {
    enum Action { begin, close };
    struct Step {
        Action action;
        std::uint64_t connection;
        bool downAfter;
    };
    const Step steps[] = {
        {begin, 7, true},  {close, 8, true},                     // a session that pressed nothing releases nothing
        {close, 7, false}, {close, 7, false},                    // released once, and nothing more to release
        {begin, 7, true},  {begin, 9, true},  {close, 7, true},  // the other session's drag still holds it
        {close, 9, false},
    };
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        const Step& step = steps[i];
        if (step.action == begin)
            drag("begin", step.connection);
        else
            router.connectionClosed(step.connection);
        EXPECT_EQ(leftButtonDown(), step.downAfter) << "after step " << i;
    }
}
