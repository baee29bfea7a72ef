#include <gtest/gtest.h>

#include <sdbus-c++/sdbus-c++.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <regex>

#include "agent/support/AtomicFile.h"
#include "agent/support/ChildProcess.h"
#include "client/ClientError.h"
#include "tests/e2e/support/AgentProcess.h"
#include "tests/e2e/support/ClientPairing.h"
#include "tests/e2e/support/Eventually.h"
#include "tests/support/PrivateBus.h"
#include "tests/support/TempFolder.h"

using namespace kx;
using namespace kx::e2e;
using namespace std::chrono_literals;

namespace {

// A window of the app on the X display, found by its size class.
struct AppWindow {
    std::string id;
    int width = 0, height = 0, x = 0, y = 0;
};

std::string runTool(const std::string& program, const std::vector<std::string>& arguments) {
    auto result = ChildProcess::run(program, arguments, {.timeLimit = 20s, .discardStandardError = true});
    return result.succeeded() ? result.standardOutput : "";
}

bool viewable(const std::string& id) {
    return runTool("/usr/bin/xwininfo", {"-id", id}).find("Map State: IsViewable") != std::string::npos;
}

// The first viewable window of the app's class that the test accepts.
std::optional<AppWindow> findWindow(const std::function<bool(const AppWindow&)>& wanted) {
    static const std::regex line(
        R"((0x[0-9a-f]+) "[^"]*": \("kestrix" "kestrix"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    std::string tree = runTool("/usr/bin/xwininfo", {"-root", "-tree"});
    for (std::sregex_iterator match(tree.begin(), tree.end(), line), end; match != end; ++match) {
        AppWindow window{(*match)[1], std::stoi((*match)[2]), std::stoi((*match)[3]), std::stoi((*match)[4]),
                         std::stoi((*match)[5])};
        if (wanted(window) && viewable(window.id)) return window;
    }
    return std::nullopt;
}

bool isTrayIcon(const AppWindow& w) {
    return w.width <= 64 && w.height <= 64;
}
bool isMenu(const AppWindow& w) {
    return w.width == 340;
}
bool isShutdownPanel(const AppWindow& w) {
    return w.width == 420 && w.height == 140;
}
bool isConfirmation(const AppWindow& w) {
    return w.width == 420 && w.height != 140;
}

std::optional<AppWindow> waitForWindow(const std::function<bool(const AppWindow&)>& wanted,
                                       std::chrono::milliseconds wait = 10s) {
    std::optional<AppWindow> found;
    eventually([&] { return (found = findWindow(wanted)).has_value(); }, wait);
    return found;
}

void click(const AppWindow& window) {
    runTool("/usr/bin/xdotool", {"mousemove", std::to_string(window.x + window.width / 2),
                                 std::to_string(window.y + window.height / 2), "click", "1"});
}

std::filesystem::path artefacts() {
    const char* build = std::getenv("KX_BINARY_DIR");
    auto folder = std::filesystem::path(build ? build : ".") / "test-artefacts" / "desktop";
    std::filesystem::create_directories(folder);
    return folder;
}

// A screenshot of the whole display, kept as a test artefact; returns its path.
std::filesystem::path screenshot(const std::string& name) {
    auto file = artefacts() / (name + ".png");
    runTool("/usr/bin/import", {"-window", "root", file.string()});
    return file;
}

std::string decodedQRCode(const std::filesystem::path& image) {
    std::string text = runTool("/usr/bin/zbarimg", {"-q", "--raw", image.string()});
    if (!text.empty() && text.back() == '\n') text.pop_back();  // zbarimg ends the text with a newline
    return text;
}

// The desktop's StatusNotifierItem host as the app sees it: a watcher on the bus that takes
// registrations of tray items.
class StatusNotifierWatcher {
public:
    static constexpr const char* interface = "org.kde.StatusNotifierWatcher";

    explicit StatusNotifierWatcher(const std::string& address)
        : bus_(sdbus::createSessionBusConnectionWithAddress(address)) {
        bus_->requestName(interface);
        object_ = sdbus::createObject(*bus_, "/StatusNotifierWatcher");
        object_->registerMethod("RegisterStatusNotifierItem")
            .onInterface(interface)
            .implementedAs([this](const std::string& service) {
                std::lock_guard guard(lock_);
                items_.push_back(service);
                changed_.notify_all();
            });
        object_->registerMethod("RegisterStatusNotifierHost")
            .onInterface(interface)
            .implementedAs([](const std::string&) {});
        object_->registerProperty("IsStatusNotifierHostRegistered").onInterface(interface).withGetter([] {
            return true;
        });
        object_->finishRegistration();
        bus_->enterEventLoopAsync();
    }
    ~StatusNotifierWatcher() { bus_->leaveEventLoop(); }

    // The bus name of the first item that registers.
    std::optional<std::string> firstItem() {
        std::unique_lock guard(lock_);
        if (!changed_.wait_for(guard, 10s, [&] { return !items_.empty(); })) return std::nullopt;
        return items_.front();
    }

private:
    std::unique_ptr<sdbus::IConnection> bus_;
    std::unique_ptr<sdbus::IObject> object_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> items_;
};

bool trayIsRunning() {
    const char* display = std::getenv("DISPLAY");
    return display && *display && !runTool("/usr/bin/xdotool", {"search", "--class", "trayer"}).empty();
}

}  // namespace

// The desktop app on a real X display with an XEmbed tray: its icon appears, a click opens the
// window, the window's QR code is the code `kestrixd pair` prints, a phone pairs through it, a
// countdown from the phone shows the panel, which Escape cancels, and a saved command marked
// dangerous, refused to the phone as always, runs only once "Run" is pressed at the computer.
// Screenshots are kept.
TEST(DesktopApp, TrayWindowPairingShutdownPanelAndConfirmationOnARealDisplay) {
    if (!trayIsRunning()) GTEST_SKIP() << "needs an X display with a system tray (trayer, from services.sh)";
    kx::testing::TempFolder folder("desktop");
    const auto actions = folder / "actions", marker = folder / "confirmed";
    auto options = AgentProcess::withPlainShell(folder.path());
    std::ofstream(*options.dataFolder / "commands.json") << R"({"templates": [
        {"id": "t_sh", "name": "Plain shell", "icon": "terminal", "cwd": "/", "program": "/bin/sh"}],
      "commands": [{"id": "c_wipe", "name": "Wipe", "icon": "trash", "templateId": "t_sh", "danger": true,
                    "command": "touch )" + marker.string() + R"("}]})";
    options.environment.push_back("XDG_CONFIG_HOME=" + (folder / "config").string());
    options.environment.push_back("KX_POWER_DRY_RUN=" + actions.string());
    options.program = KX_DESKTOP_APP;
    AgentProcess app(options);

    auto icon = waitForWindow(isTrayIcon);
    ASSERT_TRUE(icon) << app.errorOutput();
    // Open at login was turned on for this (fresh) user.
    EXPECT_TRUE(std::filesystem::exists(folder / "config" / "autostart" / "kestrix.desktop"));

    click(*icon);
    // It drops from the icon; the window manager may report it at its first place for a moment.
    auto menu = waitForWindow([&](const AppWindow& w) { return isMenu(w) && w.y >= icon->y + icon->height; });
    ASSERT_TRUE(menu) << "the window did not open below the icon";
    EXPECT_LE(menu->x + menu->width, 1280);
    screenshot("window");

    // The code in the window is the one the control command prints.
    auto printed = app.control({"pair", "127.0.0.1"});
    ASSERT_TRUE(printed.succeeded()) << printed.standardError;
    std::smatch code;
    ASSERT_TRUE(std::regex_search(printed.standardOutput, code, std::regex("\\{[^\\n]*\\}")));
    std::string shown;
    EXPECT_TRUE(eventually([&] { return (shown = decodedQRCode(screenshot("pairing"))) == code.str(); }, 10s))
        << shown << " != " << code.str();
    // The window alone, as the README shows it.
    runTool("/usr/bin/import", {"-window", menu->id, (artefacts() / "window-pairing.png").string()});

    // A phone pairs through it; the spent code is taken down and the phone is listed.
    auto phone = connectClient(pairWithCode(PairingPayload::decode(code.str()), testPhone()));
    EXPECT_TRUE(eventually([&] { return decodedQRCode(screenshot("paired")).empty(); }, 10s));
    EXPECT_TRUE(has(app.control({"devices"}).standardOutput, "test phone"));

    // A countdown from the phone shows the panel; Escape cancels it and nothing is carried out.
    EXPECT_EQ(phone->call("system.shutdown", {{"action", "restart"}}), (JSONObject{{"delaySeconds", 30}}));
    auto panel = waitForWindow(isShutdownPanel);
    ASSERT_TRUE(panel) << "the shutdown panel did not show";
    screenshot("shutdown");
    EXPECT_TRUE(app.statusShows("Shutdown: none pending") == false);
    runTool("/usr/bin/xdotool", {"key", "Escape"});
    EXPECT_TRUE(eventually([&] { return app.statusShows("Shutdown: none pending"); }, 10s));
    EXPECT_TRUE(eventually([&] { return !findWindow(isShutdownPanel); }, 10s));
    EXPECT_FALSE(std::filesystem::exists(actions));

    auto session = phone->call("session.create", {{"templateId", "t_sh"}, {"name", "work"}}).at("id").asString();
    try {
        phone->call("session.run", {{"id", session}, {"commandId", "c_wipe"}});
        ADD_FAILURE() << "a dangerous command ran without confirmation";
    } catch (const ErrorResponse& refused) {
        EXPECT_EQ(refused.error.code, ErrorCode::needsConfirmation);
        EXPECT_EQ(refused.error.msg, "Confirm on your computer to run this");
    }
    ASSERT_TRUE(waitForWindow(isConfirmation)) << "no confirmation window";
    screenshot("confirm");
    EXPECT_FALSE(std::filesystem::exists(marker));
    // From "Don't run", the default, to "Run", and press it.
    runTool("/usr/bin/xdotool", {"key", "Tab", "space"});
    EXPECT_TRUE(eventually([&] { return std::filesystem::exists(marker); }, 10s));
    EXPECT_TRUE(eventually([&] { return !findWindow(isConfirmation); }));
    phone->call("session.kill", {{"id", session}});

    // kestrixd on the same data folder is turned away, naming the app's process.
    AgentProcess second({.waitUntilListening = false, .dataFolder = app.dataFolder()});
    EXPECT_EQ(second.waitForExit(), 1);
    EXPECT_TRUE(has(second.errorOutput(), "(process " + std::to_string(app.pid()) + ")")) << second.errorOutput();

    phone.reset();
    EXPECT_EQ(app.stop(), 0);
}

// Where the desktop has a StatusNotifierItem watcher the icon is an item on the session bus, which
// reports no geometry: activating it opens the window in the top-right corner of the screen.
TEST(DesktopApp, StatusNotifierItemOpensTheWindowInTheTopRightCorner) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X display (services.sh)";
    kx::testing::PrivateBus bus;
    if (!bus.running()) GTEST_SKIP() << "dbus-daemon is not available";
    StatusNotifierWatcher watcher(bus.address());
    kx::testing::TempFolder folder("desktop-sni");
    AgentProcess app({.environment = {"XDG_CONFIG_HOME=" + (folder / "config").string(),
                                      "DBUS_SESSION_BUS_ADDRESS=" + bus.address()},
                      .program = KX_DESKTOP_APP});

    auto item = watcher.firstItem();
    ASSERT_TRUE(item) << "the app registered no tray item\n" << app.errorOutput();
    auto proxy =
        sdbus::createProxy(sdbus::createSessionBusConnectionWithAddress(bus.address()), *item, "/StatusNotifierItem");
    proxy->callMethod("Activate").onInterface("org.kde.StatusNotifierItem").withArguments(0, 0);
    // The window manager may report the window at its first place for a moment.
    auto menu = waitForWindow([](const AppWindow& w) { return isMenu(w) && w.x + w.width >= 1280 - 16; });
    ASSERT_TRUE(menu) << "the window did not open at the right edge";
    EXPECT_LE(menu->y, 16);
    screenshot("window-corner");
    EXPECT_EQ(app.stop(), 0);
}
