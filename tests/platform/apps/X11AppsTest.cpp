#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <mutex>

#include "agent/apps/AppIdentity.h"
#include "agent/pairing/MemoryIdentityStore.h"
#include "agent/service/AgentService.h"
#include "platform/linux/apps/LinuxDesktopApps.h"
#include "platform/linux/apps/X11FrontmostSource.h"
#include "platform/linux/apps/X11Properties.h"
#include "platform/linux/apps/X11Workspace.h"
#include "platform/linux/input/X11EventPoster.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/RouterCall.h"
#include "tests/support/Subprocess.h"

using namespace kx;
using kx::e2e::eventually;
using kx::testing::Subprocess;
using namespace std::chrono_literals;

namespace {

// Whether $DISPLAY has a window manager that speaks EWMH.
bool ewmhDesktop() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    auto check = X11Properties::items32(display, DefaultRootWindow(display),
                                        XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), XA_WINDOW, 1);
    XCloseDisplay(display);
    return check.size() == 1;
}

// The agent service on the test's X desktop, with xterm windows of distinct classes and three
// installed applications: "kx-alpha" (StartupWMClass KxAlpha), "kx-keylog", the key-logging client
// that launching starts, and "kx-logo", which runs xlogo.
class X11Apps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // Launched programs that leave their parent still end up as our children, to be reaped.
        ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    }

    void SetUp() override {
        if (!ewmhDesktop()) GTEST_SKIP() << "needs DISPLAY with an EWMH window manager (scripts/lib/services.sh)";
        AgentServiceOptions options;
        options.identityStore = std::make_shared<MemoryIdentityStore>();
        options.hostName = "test";
        options.eventPoster = std::make_shared<X11EventPoster>();
        options.installedApps = [] {
            return std::vector<InstalledApp>{{"kx-alpha", "Alpha", "/a.desktop", "KxAlpha", "", ""},
                                             {"kx-keylog", "Key Log", "/k.desktop", "KxKeyLog", "", ""},
                                             {"kx-logo", "Logo", "/l.desktop", "", "xlogo", ""}};
        };
        options.launchApp = [this](const InstalledApp&) {
            return keyLog = start({KX_KEY_LOG_CLIENT, "KxKeyLog"}, true), true;
        };
        workspace = std::make_shared<X11Workspace>(std::make_shared<AppIdentity>(options.installedApps));
        options.workspace = workspace;
        options.unquittableApps = LinuxDesktopApps::unquittable();
        service = AgentService::create(std::move(options));
    }

    void TearDown() override {
        children.clear();
        while (::waitpid(-1, nullptr, WNOHANG) > 0) {
        }
    }

    Subprocess* start(const std::vector<std::string>& argv, bool output = false) {
        std::lock_guard guard(childrenLock);
        return children
            .emplace_back(std::make_unique<Subprocess>(argv, Subprocess::Options{.pipeOutput = output, .quiet = true}))
            .get();
    }
    // An xterm of that class, once it runs as the application `id`.
    Subprocess* xterm(const std::string& windowClass, const std::string& id) {
        auto* child = start({"xterm", "-class", windowClass, "-e", "sleep", "600"});
        EXPECT_TRUE(eventually([&] { return running(id); }, 10s)) << windowClass;
        return child;
    }
    bool running(const std::string& id) {
        auto apps = workspace->apps();
        return std::ranges::find(apps, id, &RunningApp::bundleID) != apps.end();
    }
    bool inFront(const std::string& id) {
        auto front = workspace->frontmost();
        return front && front->bundleID == id;
    }
    // Windows the window manager names on the root window, read from the server.
    static std::vector<unsigned long> rootWindows(const char* property, long most) {
        Display* display = XOpenDisplay(nullptr);
        auto list = X11Properties::items32(display, DefaultRootWindow(display), XInternAtom(display, property, False),
                                           XA_WINDOW, most);
        XCloseDisplay(display);
        return list;
    }
    static unsigned long activeWindow() {
        auto active = rootWindows("_NET_ACTIVE_WINDOW", 1);
        return active.empty() ? 0 : active.front();
    }
    static bool managed(unsigned long window) {
        return std::ranges::count(rootWindows("_NET_CLIENT_LIST", 256), window) > 0;
    }
    Envelope call(const std::string& method, JSONObject params = {}) {
        return kx::testing::call(service->router(), method, std::move(params));
    }
    std::string error(const std::string& method, const std::string& id) {
        return call(method, {{"bundleId", id}}).e.value().msg;
    }

    std::shared_ptr<X11Workspace> workspace;
    std::shared_ptr<AgentService> service;
    std::mutex childrenLock;
    std::vector<std::unique_ptr<Subprocess>> children;
    Subprocess* keyLog = nullptr;
};

}  // namespace

TEST_F(X11Apps, ListsActivatesAndQuitsApplicationsByTheirIds) {
    Subprocess* beta = xterm("KxBeta", "KxBeta");
    xterm("KxAlpha", "kx-alpha");
    ASSERT_EQ(call("system.apps.activate", {{"bundleId", "KxBeta"}}).p, (JSONObject{{"ok", true}}));
    ASSERT_TRUE(eventually([&] { return inFront("KxBeta"); }));

    JSONObject listed;
    const auto apps = call("system.apps.list").p->at("apps");
    for (const auto& app : apps.asArray()) {
        const auto& fields = app.asObject();
        listed[fields.at("bundleId").asString()] =
            JSONArray{fields.at("name"), fields.at("active"), fields.at("quittable")};
    }
    EXPECT_EQ(listed.at("kx-alpha"), (JSONArray{"Alpha", false, true}));
    EXPECT_EQ(listed.at("KxBeta"), (JSONArray{"KxBeta", true, true}));

    EXPECT_EQ(call("app.activate", {{"bundleId", "kx-alpha"}}).p, JSONObject{});
    EXPECT_TRUE(eventually([&] { return inFront("kx-alpha"); }));

    EXPECT_EQ(error("system.apps.quit", "openbox"), "That app cannot be quit from here");
    EXPECT_EQ(call("system.apps.quit", {{"bundleId", "KxBeta"}}).p, (JSONObject{{"ok", true}}));
    // Asked to close its window, xterm ends on its own.
    EXPECT_TRUE(beta->waitFor(10s));
    EXPECT_TRUE(eventually([&] { return !running("KxBeta"); }));
    EXPECT_EQ(error("system.apps.quit", "KxBeta"), "That app is not running");
    EXPECT_EQ(error("app.activate", "KxBeta"), "App is not running");
    EXPECT_EQ(call("system.apps.activate", {{"bundleId", "KxBeta"}}).p, (JSONObject{{"ok", false}}));
}

TEST_F(X11Apps, FrontmostSourceReportsASwitchOnceAndNotAWindowOfTheSameAppClosing) {
    // Mapped in this order, each new window takes the focus: the focus order is alpha 2, alpha 1, beta.
    // Each holds the focus itself before the next maps and before the watch starts; a window that is
    // listed may not have it yet, and the focus passes through none on its way.
    xterm("KxBeta", "KxBeta");
    ASSERT_TRUE(eventually([&] { return inFront("KxBeta"); }, 10s));
    xterm("KxAlpha", "kx-alpha");
    ASSERT_TRUE(eventually([&] { return inFront("kx-alpha"); }, 10s));
    const unsigned long first = activeWindow();
    Subprocess* second = start({"xterm", "-class", "KxAlpha", "-e", "sleep", "600"});
    unsigned long secondWindow = 0;
    ASSERT_TRUE(eventually(
        [&] { return (secondWindow = activeWindow()) != 0 && secondWindow != first && inFront("kx-alpha"); }, 10s));

    X11FrontmostSource source(workspace);
    std::mutex lock;
    std::vector<std::string> reported;
    source.startObserving([&] {
        std::lock_guard guard(lock);
        reported.push_back(source.frontmost().value_or(FrontmostApp{}).bundleID);
    });
    auto seen = [&] {
        std::lock_guard guard(lock);
        return reported;
    };
    // The focused alpha window goes away; the focus passes through none back to the other one.
    second->stop();
    ASSERT_TRUE(eventually([&] { return !managed(secondWindow) && activeWindow() == first; }));
    std::this_thread::sleep_for(X11FrontmostSource::debounce * 4);
    EXPECT_TRUE(seen().empty());

    workspace->activate("KxBeta");
    ASSERT_TRUE(eventually([&] { return seen().size() == 1; }));
    workspace->activate("kx-alpha");
    ASSERT_TRUE(eventually([&] { return seen().size() == 2; }));
    std::this_thread::sleep_for(X11FrontmostSource::debounce * 4);
    source.stopObserving();
    EXPECT_EQ(seen(), (std::vector<std::string>{"KxBeta", "kx-alpha"}));
}

TEST_F(X11Apps, ShortcutLaunchesAClosedAppAndReachesItOnlyOnceItIsInFront) {
    xterm("KxBeta", "KxBeta");
    // Lines of the key-logging client up to and including its first key other than a modifier
    // (keysyms ffe1 to ffee), which it is not told about.
    auto untilKey = [&] {
        std::vector<std::string> lines;
        while (auto line = Subprocess::readLine(keyLog->output(), 10s)) {
            if (line->starts_with("key ffe")) continue;
            lines.push_back(*line);
            if (line->starts_with("key ")) break;
        }
        return lines;
    };
    ASSERT_EQ(call("app.shortcut", {{"appId", "kx-keylog"}, {"chord", "Ctrl+K"}}).p, JSONObject{});
    ASSERT_NE(keyLog, nullptr);
    auto lines = untilKey();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "key 6b 4");
    EXPECT_NE(std::ranges::find(lines, "focus"), lines.end());

    // Running but behind another application: brought forward first.
    workspace->activate("KxBeta");
    ASSERT_TRUE(eventually([&] { return inFront("KxBeta"); }));
    ASSERT_EQ(call("app.shortcut", {{"appId", "kx-keylog"}, {"chord", "ctrl+j"}}).p, JSONObject{});
    EXPECT_EQ(untilKey(), (std::vector<std::string>{"focus", "key 6a 4"}));
}

TEST_F(X11Apps, KnowsClientsWithoutAPidPanelsAndWindowIcons) {
    // xlogo sets no _NET_WM_PID: the X server names its process, and its program its application.
    start({"xlogo"});
    EXPECT_TRUE(eventually([&] { return running("kx-logo"); }, 10s));

    keyLog = start({KX_KEY_LOG_CLIENT, "KxKeyLog", "dock"}, true);
    ASSERT_TRUE(eventually([&] { return running("kx-keylog"); }, 10s));
    const auto apps = call("app.list").p->at("apps");
    EXPECT_EQ(std::ranges::count(apps.asArray(), JSONValue("kx-keylog"),
                                 [](const JSONValue& app) { return app.asObject().at("bundleId"); }),
              0);
    EXPECT_EQ(error("system.apps.quit", "kx-keylog"), "That app cannot be quit from here");

    auto icon = workspace->windowIcon("kx-keylog");
    ASSERT_TRUE(icon);
    EXPECT_EQ(std::tuple(icon->width, icon->height, icon->argb.size(), icon->argb.front()),
              std::tuple(48u, 48u, std::size_t{48 * 48}, 48u));
}
