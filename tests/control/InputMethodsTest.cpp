#include <gtest/gtest.h>

#include <future>
#include <mutex>
#include <variant>

#include "agent/control/InputMethods.h"
#include "agent/control/KeyChord.h"
#include "tests/support/RouterCall.h"

using namespace kx;
using kx::testing::call;

namespace {

// In-memory EventPoster: records what was posted, with a settable pointer, screens and permission.
class RecordingEventPoster : public EventPoster {
public:
    struct Flush {
        friend bool operator==(const Flush&, const Flush&) = default;
    };
    using Posted = std::variant<MouseEvent, ScrollEvent, KeyEvent, std::u16string, Flush>;

    bool trusted = true;
    std::optional<Point> location = Point{100, 100};
    std::vector<Rect> screens = {{0, 0, 1440, 900}};

    bool mayInjectInput() override { return trusted; }
    void postMouse(const MouseEvent& event) override { record(event); }
    void postScroll(const ScrollEvent& event) override { record(event); }
    void postKey(const KeyEvent& event) override { record(event); }
    void postText(const std::u16string& text) override { record(text); }
    void flush() override { record(Flush{}); }
    std::optional<Point> pointerLocation() override { return location; }
    std::vector<Rect> screenFrames() override { return screens; }

    std::vector<Posted> posted() const {
        std::lock_guard guard(lock_);
        return posted_;
    }
    // The posted events of one kind, in order.
    template <class T>
    std::vector<T> all() const {
        std::vector<T> out;
        for (const auto& p : posted())
            if (auto* v = std::get_if<T>(&p)) out.push_back(*v);
        return out;
    }

private:
    void record(Posted p) {
        std::lock_guard guard(lock_);
        posted_.push_back(std::move(p));
    }

    mutable std::mutex lock_;
    std::vector<Posted> posted_;
};

class InputMethods : public ::testing::Test {
protected:
    InputMethods() { registerInputMethods(router, controller); }

    // Calls a method that must succeed with an empty result.
    void ok(const std::string& method, JSONObject params = {}) {
        EXPECT_EQ(call(router, method, std::move(params)), Envelope::success("1", JSONObject{})) << method;
    }
    WireError error(const std::string& method, JSONObject params = {}) {
        auto reply = call(router, method, std::move(params));
        EXPECT_EQ(reply.ok, false) << method;
        return reply.e.value_or(WireError{});
    }

    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<InputMutex> mutex = std::make_shared<InputMutex>();
    std::shared_ptr<InputController> controller = std::make_shared<InputController>(poster, mutex);
    CommandRouter router;
};

}  // namespace

TEST_F(InputMethods, RegistersSixAuthenticatedMethodsWithTheirCapabilities) {
    EXPECT_EQ(router.capabilityStrings(), (JSONArray{"input.key", "input.pointer", "input.text"}));
    for (const char* method : {"input.pointer.move", "input.pointer.click", "input.pointer.scroll",
                               "input.pointer.drag", "input.key", "input.text"}) {
        auto reply = router.dispatch(Envelope::request("1", method), RequestContext{});
        EXPECT_EQ(reply.e->code, ErrorCode::unauthorized) << method;
    }
    EXPECT_TRUE(poster->posted().empty());
}

namespace {

using Posted = RecordingEventPoster::Posted;

// `count` press-release pairs at the pointer, numbered by their click state.
std::vector<Posted> clicks(MouseEventType down, MouseEventType up, MouseButton button, int count) {
    std::vector<Posted> events;
    for (std::int64_t state = 1; state <= count; ++state) {
        events.push_back(MouseEvent{down, {100, 100}, button, state});
        events.push_back(MouseEvent{up, {100, 100}, button, state});
    }
    return events;
}

std::vector<Posted> left(int count) {
    return clicks(MouseEventType::leftDown, MouseEventType::leftUp, MouseButton::left, count);
}

MouseEvent mouseAt(MouseEventType type, Point at) {
    return {type, at, MouseButton::left, std::nullopt};
}

// One request on a fresh controller with the pointer at (100, 100): its reply and what it posted.
// Whatever a successful request posts is followed by one flush; a refused one posts nothing.
struct Row {
    std::string method;
    JSONObject params;
    std::variant<std::vector<Posted>, WireError> outcome;
};

const std::vector<Row> kRows = {
    {"input.pointer.move", {}, std::vector<Posted>{mouseAt(MouseEventType::moved, {100, 100})}},
    // Moves are relative; a string counts as absent.
    {"input.pointer.move",
     {{"dx", 5.5}, {"dy", "ten"}},
     std::vector<Posted>{mouseAt(MouseEventType::moved, {105.5, 100})}},
    {"input.pointer.click", {{"count", 0}}, left(1)},
    {"input.pointer.click", {{"count", 2}}, left(2)},
    {"input.pointer.click", {{"count", 7}}, left(3)},
    {"input.pointer.click", {{"count", 2.9}}, left(2)},  // truncated toward zero
    {"input.pointer.click", {{"count", -1e300}}, left(1)},
    {"input.pointer.click", {{"count", 1e300}}, left(3)},
    {"input.pointer.click",
     {{"button", "right"}},
     clicks(MouseEventType::rightDown, MouseEventType::rightUp, MouseButton::right, 1)},
    {"input.pointer.click",
     {{"button", "middle"}},
     clicks(MouseEventType::otherDown, MouseEventType::otherUp, MouseButton::center, 1)},
    {"input.pointer.click", {{"button", "Right"}}, left(1)},  // names are case-sensitive
    // Drags use the left button at the moved position; an unknown phase is a move.
    {"input.pointer.drag",
     {{"phase", "begin"}, {"dx", 10}, {"dy", -20}},
     std::vector<Posted>{mouseAt(MouseEventType::leftDown, {110, 80})}},
    {"input.pointer.drag", {{"dx", 1}}, std::vector<Posted>{mouseAt(MouseEventType::leftDragged, {101, 100})}},
    {"input.pointer.drag", {{"phase", "BEGIN"}}, std::vector<Posted>{mouseAt(MouseEventType::leftDragged, {100, 100})}},
    {"input.pointer.drag",
     {{"phase", "end"}, {"dy", 3}},
     std::vector<Posted>{mouseAt(MouseEventType::leftUp, {100, 103})}},
    // Scrolls round halves away from zero and saturate; the wheel takes dy first.
    {"input.pointer.scroll", {{"dy", 2.5}, {"dx", -2.5}}, std::vector<Posted>{ScrollEvent{3, -3}}},
    {"input.pointer.scroll", {{"dy", -2.5}, {"dx", 0.49}}, std::vector<Posted>{ScrollEvent{-3, 0}}},
    {"input.pointer.scroll",
     {{"dy", 1e12}, {"dx", -1e12}},
     std::vector<Posted>{ScrollEvent{2147483647, -2147483647 - 1}}},
    {"input.key",
     {{"chord", "Meta+Q"}},
     std::vector<Posted>{KeyEvent{12, eventFlags::command, true}, KeyEvent{12, eventFlags::command, false}}},
    {"input.key", {{"chord", "ctrl++"}}, WireError::invalidParams("Unrecognised key chord")},
    {"input.key", {{"chord", 5}}, WireError::invalidParams("chord is required")},
    {"input.text", {{"text", JSONArray{}}}, WireError::invalidParams("text is required")},
};

}  // namespace

TEST(InputMethodsTable, EachRequestPostsItsEventsThenFlushesOrIsRefused) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.method + " " + JSONValue(row.params).toJSONText());
        auto poster = std::make_shared<RecordingEventPoster>();
        CommandRouter router;
        registerInputMethods(router, std::make_shared<InputController>(poster, std::make_shared<InputMutex>()));
        auto reply = call(router, row.method, row.params);
        if (auto* events = std::get_if<std::vector<Posted>>(&row.outcome)) {
            EXPECT_EQ(reply, Envelope::success("1", JSONObject{}));
            auto expected = *events;
            expected.push_back(RecordingEventPoster::Flush{});
            EXPECT_EQ(poster->posted(), expected);
        } else {
            EXPECT_EQ(reply, Envelope::failure("1", std::get<WireError>(row.outcome)));
            EXPECT_TRUE(poster->posted().empty());
        }
    }
}

TEST_F(InputMethods, TargetsArePulledOntoTheScreensAndAnUnknownPointerIsTheOrigin) {
    poster->screens = {{0, 0, 1440, 900}, {1440, -200, 1920, 1080}};
    auto moveTo = [&](double x, double y) {
        ok("input.pointer.move", {{"dx", x - 100}, {"dy", y - 100}});
        return poster->all<MouseEvent>().back().location;
    };
    EXPECT_EQ(moveTo(2000, 850), (Point{2000, 850}));   // inside the second screen only
    EXPECT_EQ(moveTo(9000, 5000), (Point{3359, 899}));  // beyond both: one point inside the union
    EXPECT_EQ(moveTo(-50, -900), (Point{0, -200}));
    EXPECT_EQ(moveTo(1440, 500), (Point{1440, 500}));  // far edge of the first, inside the second
    EXPECT_EQ(moveTo(100, 1000), (Point{100, 899}));
    EXPECT_EQ(moveTo(3000, 890), (Point{3000, 890}));  // on no screen, but inside the union
    EXPECT_EQ(InputController::clamp({-7, 12345}, {}), (Point{-7, 12345}));
    poster->location.reset();
    ok("input.pointer.move", {{"dx", 5}, {"dy", 6}});
    EXPECT_EQ(poster->all<MouseEvent>().back().location, (Point{5, 6}));
}

TEST_F(InputMethods, WithoutAccessibilityEveryMethodIsRefusedAfterItsParametersWereRead) {
    poster->trusted = false;
    const WireError denied(ErrorCode::permissionDenied, "Accessibility not granted",
                           JSONObject{{"permission", "accessibility"}});
    for (const char* method :
         {"input.pointer.move", "input.pointer.click", "input.pointer.scroll", "input.pointer.drag"})
        EXPECT_EQ(error(method), denied);
    EXPECT_EQ(error("input.key", {{"chord", "nonsense+"}}), denied);
    EXPECT_EQ(error("input.text", {{"text", "hi"}}), denied);
    EXPECT_EQ(error("input.key"), WireError::invalidParams("chord is required"));
    EXPECT_EQ(error("input.text", {{"text", JSONArray{}}}), WireError::invalidParams("text is required"));
    EXPECT_TRUE(poster->posted().empty());
}

TEST_F(InputMethods, WhileTheMutexIsHeldOnlyKeysArePosted) {
    std::promise<void> inside, release;
    auto holder = std::async(std::launch::async, [&] {
        mutex->hold([&] {
            inside.set_value();
            release.get_future().wait();
        });
    });
    inside.get_future().wait();
    for (const char* method :
         {"input.pointer.move", "input.pointer.click", "input.pointer.scroll", "input.pointer.drag"})
        ok(method, {{"dx", 1}, {"dy", 4}, {"phase", "begin"}});
    ok("input.text", {{"text", "dropped"}});
    EXPECT_EQ(error("input.text", {{"text", std::string(4097, 'x')}}), WireError::invalidParams("Text too long"));
    EXPECT_TRUE(poster->posted().empty());
    ok("input.key", {{"chord", "enter"}});
    release.set_value();
    holder.get();
    EXPECT_EQ(poster->all<KeyEvent>().size(), 2u);
    EXPECT_EQ(poster->posted().size(), 3u);  // the key's press, release and flush
}

TEST_F(InputMethods, TextIsTypedTwentyCharactersPerChunkWithoutSplittingCharacters) {
    // 4096 characters of two code points each (e and a combining acute accent).
    std::string text;
    std::vector<std::u16string> expected(1);
    for (std::size_t i = 0; i < InputController::maxTextCharacters; ++i) {
        text += "e\u0301";
        if (expected.back().size() > 0 && i % 20 == 0) expected.emplace_back();
        expected.back() += u"e\u0301";
    }
    ok("input.text", {{"text", text}});
    EXPECT_EQ(poster->all<std::u16string>(), expected);
    EXPECT_EQ(expected.size(), 205u);
    EXPECT_EQ(poster->posted().size(), 206u);  // the chunks, then one flush

    EXPECT_EQ(error("input.text", {{"text", text + "a"}}), WireError::invalidParams("Text too long"));
    ok("input.text", {{"text", ""}});
    EXPECT_EQ(poster->posted().size(), 206u);
}

// What the accepted chords press is the table's above and X11EventPosterTest's.
TEST(KeyChord, RejectsMalformedChords) {
    // Spaces are not trimmed, modifiers alone press nothing, and names outside the tables are refused.
    for (const char* chord :
         {"", "+a", "ctrl++", "ctrl+alt", "cmd+c", "ctrl+foo+a", "a+", "ctrl + a", "ctrl+plus", "F21"})
        EXPECT_THROW(KeyChord::parse(chord), KeyChordError) << chord;
}
