#include <gtest/gtest.h>

#include <future>

#include "agent/control/InputMethods.h"
#include "tests/control/RecordingEventPoster.h"

using namespace kx;
using kx::test::RecordingEventPoster;

namespace {

const RequestContext kAuthed{"device", true};

class InputMethods : public ::testing::Test {
protected:
    InputMethods() { registerInputMethods(router, controller); }

    Envelope call(const std::string& method, JSONObject params = {}) {
        return router.dispatch(Envelope::request("1", method, std::move(params)), kAuthed);
    }
    // Calls a method that must succeed with an empty result.
    void ok(const std::string& method, JSONObject params = {}) {
        EXPECT_EQ(call(method, std::move(params)), Envelope::success("1", JSONObject{})) << method;
    }
    WireError error(const std::string& method, JSONObject params = {}) {
        auto reply = call(method, std::move(params));
        EXPECT_EQ(reply.ok, false) << method;
        return reply.e.value_or(WireError{});
    }
    std::vector<MouseEvent> mouse() const { return poster->all<MouseEvent>(); }

    std::shared_ptr<RecordingEventPoster> poster = std::make_shared<RecordingEventPoster>();
    std::shared_ptr<InputMutex> mutex = std::make_shared<InputMutex>();
    std::shared_ptr<InputController> controller = std::make_shared<InputController>(poster, mutex);
    CommandRouter router;
};

std::vector<std::optional<std::int64_t>> clickStates(const std::vector<MouseEvent>& events) {
    std::vector<std::optional<std::int64_t>> out;
    for (const auto& e : events) out.push_back(e.clickState);
    return out;
}

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

TEST_F(InputMethods, MoveIsRelativeAndFlushedAfterPosting) {
    ok("input.pointer.move");
    ok("input.pointer.move", {{"dx", 5.5}, {"dy", "ten"}});  // a string counts as absent
    using Flush = RecordingEventPoster::Flush;
    const std::vector<RecordingEventPoster::Posted> expected = {
        MouseEvent{MouseEventType::moved, {100, 100}, MouseButton::left, std::nullopt}, Flush{},
        MouseEvent{MouseEventType::moved, {105.5, 100}, MouseButton::left, std::nullopt}, Flush{}};
    EXPECT_EQ(poster->posted(), expected);

    poster->location.reset();  // unknown pointer position counts as the origin
    ok("input.pointer.move", {{"dx", 5}, {"dy", 6}});
    EXPECT_EQ(mouse().back().location, (Point{5, 6}));
}

TEST_F(InputMethods, TargetsOutsideEveryScreenArePulledOntoTheScreens) {
    poster->screens = {{0, 0, 1440, 900}, {1440, -200, 1920, 1080}};
    auto moveTo = [&](double x, double y) {
        ok("input.pointer.move", {{"dx", x - 100}, {"dy", y - 100}});
        return mouse().back().location;
    };
    EXPECT_EQ(moveTo(2000, 850), (Point{2000, 850}));   // inside the second screen only
    EXPECT_EQ(moveTo(9000, 5000), (Point{3359, 899}));  // beyond both: one point inside the union
    EXPECT_EQ(moveTo(-50, -900), (Point{0, -200}));
    EXPECT_EQ(moveTo(1440, 500), (Point{1440, 500}));  // far edge of the first, inside the second
    EXPECT_EQ(moveTo(100, 1000), (Point{100, 899}));
    EXPECT_EQ(moveTo(3000, 890), (Point{3000, 890}));  // on no screen, but inside the union
    EXPECT_EQ(InputController::clamp({-7, 12345}, {}), (Point{-7, 12345}));
}

TEST_F(InputMethods, ClicksPostPairsWithClickStatesAtThePointer) {
    ok("input.pointer.click", {{"count", 0}});
    EXPECT_EQ(clickStates(mouse()), (std::vector<std::optional<std::int64_t>>{1, 1}));
    for (const auto& e : mouse()) EXPECT_EQ(e.location, (Point{100, 100}));

    auto clicks = [&](JSONObject params) {
        const auto before = mouse().size();
        ok("input.pointer.click", std::move(params));
        auto all = mouse();
        return std::vector<MouseEvent>(all.begin() + before, all.end());
    };
    EXPECT_EQ(clickStates(clicks({{"count", 2}})), (std::vector<std::optional<std::int64_t>>{1, 1, 2, 2}));
    EXPECT_EQ(clickStates(clicks({{"count", 7}})), (std::vector<std::optional<std::int64_t>>{1, 1, 2, 2, 3, 3}));
    EXPECT_EQ(clicks({{"count", 2.9}}).size(), 4u);  // truncated toward zero
    EXPECT_EQ(clicks({{"count", -1e300}}).size(), 2u);
    EXPECT_EQ(clicks({{"count", 1e300}}).size(), 6u);

    auto right = clicks({{"button", "right"}});
    ASSERT_EQ(right.size(), 2u);
    EXPECT_EQ(right[0].type, MouseEventType::rightDown);
    EXPECT_EQ(right[1].type, MouseEventType::rightUp);
    EXPECT_EQ(right[0].button, MouseButton::right);
    auto middle = clicks({{"button", "middle"}});
    EXPECT_EQ(middle[0].type, MouseEventType::otherDown);
    EXPECT_EQ(middle[0].button, MouseButton::center);
    auto capitalised = clicks({{"button", "Right"}});  // names are case-sensitive
    EXPECT_EQ(capitalised[0].type, MouseEventType::leftDown);
    EXPECT_EQ(capitalised[1].type, MouseEventType::leftUp);
    EXPECT_EQ(capitalised[0].button, MouseButton::left);
}

TEST_F(InputMethods, DragPhasesUseTheLeftButtonAtTheMovedPosition) {
    ok("input.pointer.drag", {{"phase", "begin"}, {"dx", 10}, {"dy", -20}});
    ok("input.pointer.drag", {{"dx", 1}});
    ok("input.pointer.drag", {{"phase", "BEGIN"}});
    ok("input.pointer.drag", {{"phase", "end"}, {"dy", 3}});
    const std::vector<MouseEvent> expected = {
        {MouseEventType::leftDown, {110, 80}, MouseButton::left, std::nullopt},
        {MouseEventType::leftDragged, {101, 100}, MouseButton::left, std::nullopt},
        {MouseEventType::leftDragged, {100, 100}, MouseButton::left, std::nullopt},
        {MouseEventType::leftUp, {100, 103}, MouseButton::left, std::nullopt},
    };
    EXPECT_EQ(mouse(), expected);
}

TEST_F(InputMethods, ScrollRoundsHalvesAwayFromZeroAndSaturates) {
    ok("input.pointer.scroll", {{"dy", 2.5}, {"dx", -2.5}});
    ok("input.pointer.scroll", {{"dy", -2.5}, {"dx", 0.49}});
    ok("input.pointer.scroll", {{"dy", 1e12}, {"dx", -1e12}});
    const std::vector<ScrollEvent> expected = {{3, -3}, {-3, 0}, {2147483647, -2147483647 - 1}};
    EXPECT_EQ(poster->all<ScrollEvent>(), expected);
}

TEST_F(InputMethods, KeyPostsDownAndUpWithTheChordsFlags) {
    ok("input.key", {{"chord", "Meta+Q"}});
    const std::vector<KeyEvent> expected = {{12, eventFlags::command, true}, {12, eventFlags::command, false}};
    EXPECT_EQ(poster->all<KeyEvent>(), expected);

    for (const char* chord : {"ctrl++", "shift", "cmd+c", ""})
        EXPECT_EQ(error("input.key", {{"chord", chord}}), WireError::invalidParams("Unrecognised key chord")) << chord;
    EXPECT_EQ(error("input.key", {{"chord", 5}}), WireError::invalidParams("chord is required"));
    EXPECT_EQ(poster->all<KeyEvent>().size(), 2u);
}

TEST_F(InputMethods, WithoutAccessibilityEveryMethodIsRefusedAfterItsParametersWereRead) {
    poster->trusted = false;
    const WireError denied(ErrorCode::permissionDenied, "Accessibility not granted",
                           JSONObject{{"permission", "accessibility"}});
    EXPECT_EQ(error("input.pointer.move"), denied);
    EXPECT_EQ(error("input.pointer.click"), denied);
    EXPECT_EQ(error("input.pointer.scroll"), denied);
    EXPECT_EQ(error("input.pointer.drag"), denied);
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
    ok("input.pointer.move", {{"dx", 1}});
    ok("input.pointer.click");
    ok("input.pointer.scroll", {{"dy", 4}});
    ok("input.pointer.drag", {{"phase", "begin"}});
    ok("input.text", {{"text", "dropped"}});
    EXPECT_EQ(error("input.text", {{"text", std::string(4097, 'x')}}), WireError::invalidParams("Text too long"));
    EXPECT_TRUE(poster->posted().empty());
    ok("input.key", {{"chord", "enter"}});
    release.set_value();
    holder.get();
    EXPECT_EQ(poster->all<KeyEvent>().size(), 2u);
    EXPECT_TRUE(poster->all<MouseEvent>().empty());
    EXPECT_TRUE(poster->all<std::u16string>().empty());
}

namespace {
// One user-perceived character in both encodings.
struct Character {
    std::string utf8;
    std::u16string utf16;
};
const std::vector<Character> kCharacters = {
    {"a", u"a"},
    {"é", u"é"},
    {"e\u0301", u"e\u0301"},                        // e and a combining acute accent
    {"👨‍👩‍👧", u"👨‍👩‍👧"},  // family: three people joined by ZWJ
    {"🇩🇪", u"🇩🇪"},                                  // flag: two regional indicators
    {"👍🏽", u"👍🏽"},                      // thumbs up with a skin tone
    {"한", u"한"},
    {"\r\n", u"\r\n"},
};
}  // namespace

TEST_F(InputMethods, TextIsTypedTwentyCharactersPerChunkWithoutSplittingCharacters) {
    // 4096 characters, cycling through the list so that multi-code-point ones straddle chunk edges.
    std::string text;
    std::vector<std::u16string> expected(1);
    for (std::size_t i = 0; i < InputController::maxTextCharacters; ++i) {
        const auto& c = kCharacters[(i * 3) % kCharacters.size()];
        text += c.utf8;
        if (expected.back().size() > 0 && i % 20 == 0) expected.emplace_back();
        expected.back() += c.utf16;
    }
    ok("input.text", {{"text", text}});
    const auto chunks = poster->all<std::u16string>();
    EXPECT_EQ(chunks.size(), 205u);
    EXPECT_EQ(chunks, expected);
    EXPECT_EQ(poster->posted().size(), 206u);  // the chunks, then one flush

    EXPECT_EQ(error("input.text", {{"text", text + "👍🏽"}}), WireError::invalidParams("Text too long"));
    ok("input.text", {{"text", ""}});
    EXPECT_EQ(poster->posted().size(), 206u);
}
