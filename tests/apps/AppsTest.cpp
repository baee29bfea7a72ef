#include <gtest/gtest.h>

#include "agent/apps/AppIdentity.h"
#include "agent/apps/AppMethods.h"
#include "tests/support/RouterCall.h"

using namespace kx;
using kx::testing::call;

namespace {

const std::vector<InstalledApp> kEntries = {
    {"org.example.Editor", "Editor", "/e/org.example.Editor.desktop", "", "editor", ""},
    {"viewer", "Viewer", "/e/viewer.desktop", "ViewerMain", "view-bin", ""},
    {"debian-xterm", "XTerm", "/e/debian-xterm.desktop", "", "xterm", ""},
};

}  // namespace

TEST(AppIdentity, MatchesInOrderGtkIDStartupClassEntryIDProgramThenFallsBackToTheWindowClass) {
    using R = AppIdentity::Result;
    const struct {
        WindowFacts window;
        std::optional<R> expected;
    } cases[] = {
        {{"org.example.Editor", "viewer", "ViewerMain", "xterm"}, R{"org.example.Editor", "Editor", true}},
        {{"", "x", "ViewerMain", "editor"}, R{"viewer", "Viewer", true}},
        {{"", "ViewerMain", "Other", "editor"}, R{"viewer", "Viewer", true}},  // instance as well
        {{"", "x", "ORG.EXAMPLE.EDITOR", "xterm"}, R{"org.example.Editor", "Editor", true}},
        {{"", "viewer", "Foo", "xterm"}, R{"viewer", "Viewer", true}},
        {{"", "xterm", "KxBeta", "xterm"}, R{"debian-xterm", "XTerm", true}},
        {{"no.such.App", "kxbeta", "KxBeta", "other"}, R{"KxBeta", "KxBeta", false}},
        {{"", "", "", "tool"}, R{"tool", "tool", false}},
        {{}, std::nullopt},
    };
    AppIdentity identity([] { return kEntries; });
    for (const auto& c : cases) EXPECT_EQ(identity.identify(c.window), c.expected) << c.window.wmClassClass;
}

TEST(AppIdentity, ReadsTheInstalledListOncePerLifetime) {
    int reads = 0;
    auto now = std::chrono::steady_clock::time_point{};
    AppIdentity identity([&] { return ++reads, kEntries; }, [&] { return now; });
    identity.identify({"", "", "ViewerMain", ""});
    now += AppIdentity::indexLifetime - std::chrono::milliseconds(1);
    identity.identify({"", "", "Other", ""});
    EXPECT_EQ(reads, 1);
    now += std::chrono::milliseconds(1);
    identity.identify({"", "", "Other", ""});
    EXPECT_EQ(reads, 2);
}

namespace {

// Applications and window icons as the test sets them.
class FakeWorkspace : public Workspace {
public:
    std::vector<RunningApp> running;
    std::map<std::string, IconPixels> windowIcons;

    std::vector<RunningApp> apps() override { return running; }
    bool activate(const std::string&) override { return false; }
    bool quit(const std::string&) override { return false; }
    std::optional<FrontmostApp> frontmost() override { return std::nullopt; }
    std::optional<IconPixels> windowIcon(const std::string& id) override {
        auto found = windowIcons.find(id);
        return found == windowIcons.end() ? std::nullopt : std::optional(found->second);
    }
};

class AppMethods : public ::testing::Test {
protected:
    AppMethods() {
        RunningAppsController::Options options{{"com.kestrix.agent"}, nullptr, nullptr};
        options.entryIcon = [this](const std::string& id) -> std::optional<std::string> {
            ++iconReads;
            auto size = iconSizes.find(id);
            return size == iconSizes.end() ? std::nullopt : std::optional(std::string(size->second, 'i'));
        };
        options.encodeWindowIcon = [](const IconPixels& pixels) { return std::to_string(pixels.width) + "px"; };
        registerAppMethods(router, std::make_shared<RunningAppsController>(workspace, std::move(options)));
    }
    JSONArray listed(const std::string& method) { return call(router, method).p.value().at("apps").asArray(); }

    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
    std::map<std::string, std::size_t> iconSizes;
    int iconReads = 0;
    CommandRouter router;
};

}  // namespace

TEST_F(AppMethods, ListsRegularAppsWithIconsWhileTheBudgetLasts) {
    workspace->running = {
        {"a", "A", true}, {"helper", "H", false, false}, {"c", "C"}, {"d", "D"}, {"e", "E", false, true, true},
        {"f", "F"},       {"com.kestrix.agent", "K"}};
    iconSizes = {{"a", 60000}, {"c", 50000}, {"d", 40000}, {"e", 2400}, {"f", 1}};
    workspace->windowIcons["com.kestrix.agent"] = IconPixels{16, 16, {}};

    std::vector<std::tuple<std::string, bool, bool, std::size_t>> seen;  // id, active, quittable, icon length
    for (const auto& app : listed("system.apps.list")) {
        const auto& fields = app.asObject();
        const auto& icon = fields.at("icon");
        seen.emplace_back(fields.at("bundleId").asString(), fields.at("active").asBool(),
                          fields.at("quittable").asBool(), icon.isNull() ? 0 : icon.asString().size());
    }
    // c does not fit after a, d and e do, and once the budget is spent f is not even read.
    EXPECT_EQ(seen, (decltype(seen){{"a", true, true, 60000},
                                    {"c", false, true, 0},
                                    {"d", false, true, 40000},
                                    {"e", false, false, 2400},
                                    {"f", false, true, 0},
                                    {"com.kestrix.agent", false, false, 0}}));
    EXPECT_EQ(iconReads, 4);
    EXPECT_EQ(listed("app.list").front(), JSONValue(JSONObject{{"bundleId", "a"}, {"name", "A"}, {"active", true}}));
    EXPECT_EQ(listed("app.list").size(), 6u);

    // A window's own icon stands in for an application without an entry.
    iconSizes.clear();
    EXPECT_EQ(listed("system.apps.list").back().asObject().at("icon"), JSONValue("16px"));
}
