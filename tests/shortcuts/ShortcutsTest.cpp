#include <gtest/gtest.h>

#include "agent/shortcuts/HotkeyMethods.h"
#include "agent/shortcuts/ShortcutChord.h"
#include "agent/shortcuts/ShortcutMethods.h"
#include "tests/support/RouterCall.h"

using namespace kx;
using kx::testing::call;
namespace flags = eventFlags;

TEST(ShortcutChord, AllowsTheListedFinalKeysIgnoringCaseWithDeleteAsForwardDelete) {
    const struct {
        const char* chord;
        std::optional<KeyChord> expected;
    } cases[] = {
        {"meta+delete", KeyChord{117, flags::command}},
        {"Meta+S", KeyChord{1, flags::command}},
        {"ctrl+shift+F20", KeyChord::parse("ctrl+shift+f20")},
        {"backspace", KeyChord{51, flags::none}},
        {"meta+return", std::nullopt},
        {"meta+esc", std::nullopt},
        {"meta+forwarddelete", std::nullopt},
        {"meta+", std::nullopt},
        {"hyper+a", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(ShortcutChord::validate(c.chord), c.expected) << c.chord;
        } catch (const WireError& error) {
            EXPECT_FALSE(c.expected) << c.chord;
            EXPECT_EQ(error.msg, "That shortcut is not supported");
        }
    }
}

namespace {

// The desktop as a shortcut sees it: which application is in front after how many looks.
struct Desktop {
    bool running = false, installed = true, activates = true, launches = true, trusted = true;
    int frontAfterLooks = 0;  // negative: never
    int looks = 0;
    std::vector<double> sleeps{};
    std::vector<std::string> launched{};
    std::vector<std::pair<KeyChord, bool>> posted{};  // with whether the input mutex was held
    std::shared_ptr<InputMutex> mutex = std::make_shared<InputMutex>();

    std::optional<std::string> front(const std::string& id) {
        return frontAfterLooks >= 0 && looks++ >= frontAfterLooks ? std::optional(id) : std::nullopt;
    }
};

Envelope shortcut(Desktop& desktop, JSONObject params) {
    ShortcutSender::Dependencies d;
    d.installedApps = [&] {
        return desktop.installed ? std::vector<InstalledApp>{{"other", "Other", "/o.desktop", "", "", ""},
                                                             {"app", "App", "/a.desktop", "", "", ""}}
                                 : std::vector<InstalledApp>{};
    };
    d.running = [&] { return desktop.running ? std::vector<std::string>{"app"} : std::vector<std::string>{}; };
    d.launch = [&](const InstalledApp& app) { return desktop.launched.push_back(app.url), desktop.launches; };
    d.activate = [&](const std::string&) { return desktop.activates; };
    d.frontmost = [&] { return desktop.front("app"); };
    d.post = [&](const KeyChord& chord) { desktop.posted.emplace_back(chord, desktop.mutex->isHeld()); };
    d.sleep = [&](double seconds) { desktop.sleeps.push_back(seconds); };
    d.mayInjectInput = [&] { return desktop.trusted; };
    d.mutex = desktop.mutex;
    CommandRouter router;
    registerShortcutMethods(router, std::make_shared<ShortcutSender>(std::move(d)));
    return call(router, "app.shortcut", std::move(params));
}

}  // namespace

TEST(ShortcutSender, BringsTheAppForwardOrLaunchesItAndPostsOnlyOnceItIsInFront) {
    const JSONObject send{{"appId", "app"}, {"chord", "meta+s"}};
    const struct {
        const char* name;
        Desktop desktop;
        JSONObject params;
        std::optional<std::string> error;
        std::size_t sleeps;  // looks that found another application in front
        bool launched;
    } cases[] = {
        {"running, in front at once", {.running = true}, send, {}, 0, false},
        {"closed, launched, in front later", {.frontAfterLooks = 5}, send, {}, 5, true},
        {"closed, never in front",
         {.frontAfterLooks = -1},
         send,
         "That app didn't come to the front, so the shortcut wasn't sent",
         30,
         true},
        {"running, refuses activation, not installed",
         {.running = true, .installed = false, .activates = false},
         send,
         "That app didn't come to the front, so the shortcut wasn't sent",
         0,
         false},
        {"launch refused", {.launches = false}, send, "Could not open that app", 0, true},
        {"neither running nor installed, before the permission",
         {.installed = false, .trusted = false},
         send,
         "That app is not installed",
         0,
         false},
        {"no permission", {.running = true, .trusted = false}, send, "Accessibility not granted", 0, false},
        {"empty appId", {}, {{"appId", ""}, {"chord", "a"}}, "appId is required", 0, false},
        {"no chord", {}, {{"appId", "app"}}, "chord is required", 0, false},
        {"bad chord",
         {.running = true},
         {{"appId", "app"}, {"chord", "meta+return"}},
         "That shortcut is not supported",
         0,
         false},
    };
    for (auto c : cases) {
        auto reply = shortcut(c.desktop, c.params);
        EXPECT_EQ(reply.e ? std::optional(reply.e->msg) : std::nullopt, c.error) << c.name;
        EXPECT_EQ(c.desktop.launched.size(), c.launched ? 1u : 0u) << c.name;
        if (c.error) {
            EXPECT_TRUE(c.desktop.posted.empty()) << c.name;
            EXPECT_EQ(c.desktop.sleeps, std::vector<double>(c.sleeps, 0.1)) << c.name;
            continue;
        }
        auto expectedSleeps = std::vector<double>(c.sleeps, 0.1);
        expectedSleeps.push_back(ShortcutSender::settle);
        EXPECT_EQ(c.desktop.sleeps, expectedSleeps) << c.name;
        EXPECT_EQ(c.desktop.posted, (std::vector<std::pair<KeyChord, bool>>{{{1, flags::command}, true}})) << c.name;
    }
}

TEST(HotkeyMethods, SlackTakesItsChordsAndXcodeAnswersAsAnAppThatIsNotRunning) {
    std::vector<KeyChord> posted;
    std::optional<std::string> front;
    HotkeyController::Dependencies d;
    d.mutex = std::make_shared<InputMutex>(InputMutex::Timing{}, InputMutex::Clock{.sleep = [](auto) {}});
    d.post = [&](const KeyChord& chord) { posted.push_back(chord); };
    d.frontmost = [&] { return front; };
    d.activate = [&](const std::string& id) { return id == "slack" && (front = id, true); };
    CommandRouter router;
    registerHotkeyMethods(
        router, std::make_shared<HotkeyController>(d, HotkeyApp{"slack", {{"quickSwitcher", "ctrl+k"}}}), false);
    EXPECT_EQ(router.capabilityStrings(), JSONArray{"app.slack"});
    EXPECT_TRUE(router.unavailable().contains(Capability::appXcode));

    EXPECT_EQ(call(router, "app.slack.action", {{"action", "quickSwitcher"}}).p, JSONObject{});
    EXPECT_EQ(posted, std::vector<KeyChord>{KeyChord::parse("ctrl+k")});
    EXPECT_EQ(call(router, "app.slack.action", {{"action", "QuickSwitcher"}}).e->msg, "Unknown Slack action");
    EXPECT_EQ(call(router, "app.xcode.action", {{"action", "Build"}}).e->msg, "Unknown Xcode action");
    EXPECT_EQ(call(router, "app.xcode.action").e->msg, "action is required");
    auto closed = call(router, "app.xcode.action", {{"action", "build"}}).e.value();
    EXPECT_EQ(std::tuple(closed.code, closed.msg, closed.p),
              std::tuple(ErrorCode::targetNotFound, std::string("That app is not running"),
                         std::optional(JSONObject{{"bundleId", "com.apple.dt.Xcode"}})));
    EXPECT_EQ(call(router, "app.xcode.status").p, (JSONObject{{"state", "idle"}, {"message", ""}}));
    EXPECT_EQ(posted.size(), 1u);
}
