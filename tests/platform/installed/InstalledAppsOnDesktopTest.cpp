#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <thread>

#include "agent/installed/InstalledAppMethods.h"
#include "agent/support/ChildProcess.h"
#include "platform/linux/installed/GioAppLauncher.h"
#include "platform/linux/installed/GioInstalledAppSource.h"
#include "platform/linux/installed/ThemeIconRenderer.h"
#include "platform/linux/installed/WindowIcon.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TempFolder.h"

// Last: Xlib's macros must not meet the Qt headers.
#include <X11/Xlib.h>

using namespace kx;
using namespace kx::testing;
namespace fs = std::filesystem;

namespace {

const RequestContext phone{"device", true};

void write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

void writeImage(const fs::path& path, int width, int height, Qt::GlobalColor color) {
    fs::create_directories(path.parent_path());
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(color);
    ASSERT_TRUE(image.save(QString::fromStdString(path.string())));
}

std::string entry(const std::string& name, const std::string& more = "Exec=true\n") {
    return "[Desktop Entry]\nType=Application\nName=" + name + "\n" + more;
}

// Counts the scans, to show that a miss rescans exactly once.
struct CountingSource : InstalledAppSource {
    GioInstalledAppSource gio;
    std::atomic<int> scans = 0;
    std::vector<InstalledApp> entries() override {
        ++scans;
        return gio.entries();
    }
};

// A private desktop: data folders (the first one overriding entries of the second), a hicolor
// theme and a second theme with PNG and SVG icons, a pixmap folder, and the family on a router.
// GLib reads the XDG variables once per process, so they are set before anything asks it.
struct Desktop {
    TempFolder root{"installed"};
    ScopedVariable home{"HOME", (root / "home").string()};
    ScopedVariable dataHome{"XDG_DATA_HOME", (root / "home/.local/share").string()};
    ScopedVariable config{"XDG_CONFIG_HOME", (root / "config").string()};
    ScopedVariable dataDirs{"XDG_DATA_DIRS", (root / "high").string() + ":" + (root / "low").string()};
    ScopedVariable desktopName{"XDG_CURRENT_DESKTOP", std::nullopt};
    // Never let GIO start a session bus of its own.
    ScopedVariable bus{"DBUS_SESSION_BUS_ADDRESS", getenv("DBUS_SESSION_BUS_ADDRESS") ?: "disabled:"};
    std::shared_ptr<CountingSource> source = std::make_shared<CountingSource>();
    std::shared_ptr<InstalledAppMethods> methods;
    CommandRouter router;

    Desktop() {
        fs::path apps = root / "low/applications", hicolor = root / "low/icons/hicolor";
        write(hicolor / "index.theme",
              "[Icon Theme]\nName=Hicolor\nDirectories=16x16/apps,48x48/apps,scalable/apps\n"
              "[16x16/apps]\nSize=16\nType=Fixed\n[48x48/apps]\nSize=48\nType=Fixed\n"
              "[scalable/apps]\nSize=48\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        write(root / "low/icons/KxTheme/index.theme",
              "[Icon Theme]\nName=Kx\nInherits=hicolor\nDirectories=48x48/apps\n[48x48/apps]\nSize=48\nType=Fixed\n");
        writeImage(root / "low/icons/KxTheme/48x48/apps/kx-png.png", 48, 48, Qt::red);
        writeImage(hicolor / "48x48/apps/kx-png.png", 48, 48, Qt::blue);
        writeImage(hicolor / "16x16/apps/kx-small.png", 16, 16, Qt::blue);
        writeImage(hicolor / "48x48/apps/kx-wide.png", 64, 32, Qt::blue);
        writeImage(root / "low/pixmaps/kx-pixmap.png", 32, 32, Qt::blue);
        writeImage(root / "files/absolute.png", 48, 48, Qt::blue);
        const std::string svg = R"(<svg xmlns="http://www.w3.org/2000/svg" width="16" height="16">)";
        write(hicolor / "scalable/apps/kx-svg.svg", svg + R"(<rect width="16" height="16" fill="#00f"/></svg>)");
        write(hicolor / "scalable/apps/kx-svgtext.svg", svg + R"(<text x="1" y="9">Hi</text></svg>)");
        write(root / "bin/kx-gone", "#!/bin/sh\n");
        fs::permissions(root / "bin/kx-gone", fs::perms::owner_all);

        write(apps / "kx-alpha.desktop",
              entry("alpha",
                    "Exec=env KX=1 xterm -class KxLaunched -e sleep 30\nIcon=kx-png\nStartupWMClass=KxLaunched\n"));
        write(apps / "kx-alpha2.desktop", entry("Alpha", "Exec=true\nIcon=kx-svg\n"));
        write(apps / "kx-beta.desktop", entry("beta", "Exec=true\nIcon=kx-small\n"));
        write(apps / "kx-wide.desktop", entry("Wide", "Exec=true\nIcon=kx-wide\n"));
        write(apps / "kx-abs.desktop",
              entry("Absolute", "Exec=true\nIcon=" + (root / "files/absolute.png").string() + "\n"));
        write(apps / "kx-pixmap.desktop", entry("Pixmap", "Exec=true\nIcon=kx-pixmap.png\n"));
        write(apps / "kx-text.desktop", entry("Text", "Exec=true\nIcon=kx-svgtext\n"));
        write(apps / "kx-noicon.desktop", entry("No icon"));
        write(apps / "kx-hidden.desktop", entry("Hidden", "Exec=true\nNoDisplay=true\n"));
        write(apps / "kx-tryexec.desktop",
              entry("TryExec", "Exec=true\nTryExec=" + (root / "bin/missing").string() + "\n"));
        write(apps / "kx-dup.desktop", entry("Dup low"));
        write(root / "high/applications/kx-dup.desktop", entry("Dup high"));
        write(root / "high/applications/kx-masked.desktop", entry("Masked", "Exec=true\nHidden=true\n"));
        write(apps / "kx-masked.desktop", entry("Masked low"));
        write(apps / "kx-vendor/tool.desktop", entry("Tool"));
        write(apps / "kx-gone.desktop", entry("Gone", "Exec=" + (root / "bin/kx-gone").string() + "\n"));

        auto renderer = std::make_shared<ThemeIconRenderer>(IconThemeLookup::standard(), [] { return "hicolor"; });
        methods = std::make_shared<InstalledAppMethods>(
            InstalledAppScanner(source), std::make_shared<GioAppLauncher>(), nullptr,
            std::make_shared<IconCache>([renderer](const InstalledApp& app) { return renderer->render(app); }),
            std::make_shared<LastScan>());
        registerInstalledAppMethods(router, methods);
    }

    Envelope call(const std::string& method, std::optional<JSONObject> params = std::nullopt) {
        return router.dispatch(Envelope::request("1", method, std::move(params)), phone);
    }
};

Desktop& desktop() {
    static Desktop shared;
    return shared;
}

// The picture inside icon text, or a null image.
QImage decoded(const std::optional<std::string>& icon) {
    return icon ? QImage::fromData(QByteArray::fromBase64(QByteArray::fromStdString(*icon)), "PNG") : QImage();
}

std::optional<std::string> iconField(const Envelope& reply) {
    const auto& icon = reply.p.value().at("icon");
    return icon.isString() ? std::optional(icon.asString()) : std::nullopt;
}

// Process ids of the managed windows whose WM_CLASS class is `windowClass`, as the window manager lists them.
std::vector<pid_t> clientsOfClass(const std::string& windowClass) {
    const auto listed = ChildProcess::run("/usr/bin/wmctrl", {"-lpx"}, {.timeLimit = std::chrono::seconds(10)});
    std::istringstream lines(listed.standardOutput);
    std::vector<pid_t> pids;
    for (std::string line, window, desktop, names; std::getline(lines, line);) {
        pid_t pid = 0;
        if (std::istringstream(line) >> window >> desktop >> pid >> names && names.ends_with("." + windowClass))
            pids.push_back(pid);
    }
    return pids;
}

// A little-endian number of `bytes` bytes, or a text padded to four bytes.
void append(std::string& blob, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) blob += static_cast<char>(value >> (8 * i) & 0xff);
}
void append(std::string& blob, const std::string& text) {
    blob += text;
    blob.append((4 - text.size() % 4) % 4, '\0');
}

// The desktop's XSETTINGS manager, publishing one string setting for as long as it lives.
class XSettingsOwner {
public:
    XSettingsOwner(Display* display, const std::string& name, const std::string& value)
        : display_(display), window_(XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0)) {
        // Byte order (little), 3 unused, serial, one setting: type string, unused, name, serial, value.
        std::string blob(4, '\0');
        append(blob, 0, 4), append(blob, 1, 4), append(blob, 1, 2);
        append(blob, static_cast<std::uint32_t>(name.size()), 2), append(blob, name), append(blob, 0, 4);
        append(blob, static_cast<std::uint32_t>(value.size()), 4), append(blob, value);
        Atom settings = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
        XChangeProperty(display, window_, settings, settings, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(blob.data()), static_cast<int>(blob.size()));
        std::string selection = "_XSETTINGS_S" + std::to_string(DefaultScreen(display));
        XSetSelectionOwner(display, XInternAtom(display, selection.c_str(), False), window_, CurrentTime);
        XSync(display, False);
    }
    ~XSettingsOwner() {
        XDestroyWindow(display_, window_);
        XSync(display_, False);
    }

private:
    Display* display_;
    Window window_;
};

}  // namespace

// Hidden entries, entries whose TryExec is missing and the overridden copies of a duplicate and of
// a hidden entry are left out; an entry in a subfolder has the folder in its id; the rest come by
// name ignoring case, equal names by id, none running.
TEST(InstalledAppsOnDesktop, ListsTheVisibleEntriesByName) {
    auto reply = desktop().call("system.apps.installed");
    ASSERT_EQ(reply.ok, true);
    std::vector<std::string> listed;
    for (const auto& app : reply.p->at("apps").asArray()) {
        const auto& fields = app.asObject();
        EXPECT_EQ(fields.at("running"), JSONValue(false));
        listed.push_back(fields.at("appId").asString() + "=" + fields.at("name").asString());
    }
    EXPECT_EQ(listed,
              (std::vector<std::string>{"kx-abs=Absolute", "kx-alpha=alpha", "kx-alpha2=Alpha", "kx-beta=beta",
                                        "kx-dup=Dup high", "kx-gone=Gone", "kx-noicon=No icon", "kx-pixmap=Pixmap",
                                        "kx-text=Text", "kx-vendor-tool=Tool", "kx-wide=Wide"}));

    // What the other families match windows against.
    auto alpha = desktop().methods->find("kx-alpha");
    ASSERT_TRUE(alpha);
    EXPECT_EQ(alpha->url, (desktop().root / "low/applications/kx-alpha.desktop").string());
    EXPECT_EQ(alpha->startupWMClass, "KxLaunched");
    EXPECT_EQ(alpha->executable, "xterm");
    EXPECT_EQ(alpha->iconName, "kx-png");
}

// Every icon the theme, an absolute path or the pixmap folder gives is a 48 x 48 PNG with the
// picture centred; no icon, an SVG with text and an unknown id give null.
TEST(InstalledAppsOnDesktop, IconsAre48PixelPNGsFromTheThemePathsAndPixmaps) {
    struct Row {
        JSONValue appId;
        bool drawn;
        bool transparentCorner = false;
    };
    const std::vector<Row> rows = {
        {"kx-alpha", true},  {"kx-alpha2", true},  {"kx-beta", true},  {"kx-wide", true, true}, {"kx-abs", true},
        {"kx-pixmap", true}, {"kx-noicon", false}, {"kx-text", false}, {"kx-unknown", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.appId.asString());
        auto reply = desktop().call("system.apps.icon", JSONObject{{"appId", row.appId}});
        ASSERT_EQ(reply.ok, true);
        QImage image = decoded(iconField(reply));
        ASSERT_EQ(!image.isNull(), row.drawn);
        if (!row.drawn) continue;
        EXPECT_EQ(image.size(), QSize(48, 48));
        EXPECT_EQ(image.pixelColor(24, 24), QColor(Qt::blue));
        EXPECT_EQ(image.pixelColor(0, 0).alpha() == 0, row.transparentCorner);
    }
}

// The desktop's icon theme comes from XSETTINGS, else GTK's settings file, else hicolor; a theme
// that does not exist falls back to hicolor.
TEST(InstalledAppsOnDesktop, TheIconThemeComesFromXSettingsThenTheSettingsFileThenHicolor) {
    desktop();
    std::unique_ptr<Display, decltype(&XCloseDisplay)> display(XOpenDisplay(nullptr), &XCloseDisplay);
    if (!display) GTEST_SKIP() << "no X display (start the services with scripts/lib/services.sh)";
    struct Row {
        std::optional<std::string> xsettings, settingsFile;
        Qt::GlobalColor color;
    };
    const std::vector<Row> rows = {
        {"KxTheme", std::nullopt, Qt::red},      {"KxTheme", "hicolor", Qt::red},
        {std::nullopt, "KxTheme", Qt::red},      {std::nullopt, std::nullopt, Qt::blue},
        {"NoSuchTheme", std::nullopt, Qt::blue},
    };
    const fs::path settingsFile = desktop().root / "config/gtk-3.0/settings.ini";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.xsettings.value_or("-") + " " + row.settingsFile.value_or("-"));
        std::optional<XSettingsOwner> owner;
        if (row.xsettings) owner.emplace(display.get(), "Net/IconThemeName", *row.xsettings);
        fs::remove(settingsFile);
        if (row.settingsFile) write(settingsFile, "[Settings]\ngtk-icon-theme-name=" + *row.settingsFile + "\n");
        ThemeIconRenderer renderer;
        QImage image = decoded(renderer.render("kx-png"));
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.pixelColor(24, 24), QColor(row.color));
    }
}

// An entry installed after the last scan is found at once by one rescan, which then serves later
// requests.
TEST(InstalledAppsOnDesktop, AnEntryAddedAfterTheLastScanIsFoundByOneRescan) {
    ASSERT_EQ(desktop().call("system.apps.installed").ok, true);
    const int scans = desktop().source->scans;
    write(desktop().root / "low/applications/kx-late.desktop", entry("Late", "Exec=true\nIcon=kx-png\n"));
    EXPECT_FALSE(decoded(iconField(desktop().call("system.apps.icon", JSONObject{{"appId", "kx-late"}}))).isNull());
    EXPECT_EQ(desktop().source->scans, scans + 1);
    EXPECT_EQ(desktop().call("system.apps.icon", JSONObject{{"appId", "kx-late"}}).ok, true);
    EXPECT_EQ(desktop().source->scans, scans + 1);
}

// Launching starts the entry's program, whose window reaches the window manager; the launched
// processes are not the agent's children (this test adopts and reaps them as a subreaper).
TEST(InstalledAppsOnDesktop, LaunchStartsTheAppAndRefusesUnknownAndBrokenOnes) {
    desktop();
    if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no X display (start the services with scripts/lib/services.sh)";
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    ASSERT_EQ(desktop().call("system.apps.installed").ok, true);
    fs::remove(desktop().root / "bin/kx-gone");  // uninstalled since the scan

    const auto required = Envelope::failure("1", WireError::invalidParams("appId is required"));
    struct Row {
        std::optional<JSONObject> params;
        Envelope reply;
    };
    const std::vector<Row> rows = {
        {std::nullopt, required},
        {JSONObject{{"appId", ""}}, required},
        {JSONObject{{"appId", 7}}, required},
        {JSONObject{{"appId", "kx-gone"}}, Envelope::failure("1", {ErrorCode::internal, "Could not open that app"})},
        {JSONObject{{"appId", "kx-unknown"}},
         Envelope::failure("1", {ErrorCode::targetNotFound, "That app is not installed"})},
        {JSONObject{{"appId", "kx-alpha"}}, Envelope::success("1", JSONObject{{"ok", true}})},
    };
    for (const auto& row : rows)
        EXPECT_EQ(desktop().call("system.apps.launch", row.params).encode(), row.reply.encode());
    EXPECT_EQ(desktop().call("system.apps.icon", std::nullopt), required);

    std::vector<pid_t> launched;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while ((launched = clientsOfClass("KxLaunched")).empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(launched.size(), 1u);
    ASSERT_GT(launched[0], 0);
    ::kill(launched[0], SIGTERM);
    // xterm and its shell command were adopted; none may stay a zombie.
    for (int status = 0; std::chrono::steady_clock::now() < deadline + std::chrono::seconds(5);) {
        pid_t ended = ::waitpid(-1, &status, WNOHANG);
        if (ended < 0) break;
        if (ended == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a launched process was left running";
}

// A window's own icon: the smallest image of at least 48 pixels, else the largest; malformed
// property data gives none.
TEST(WindowIcon, DrawsTheBestImageOfTheProperty) {
    auto image = [](std::uint32_t side, std::uint32_t argb) {
        std::vector<std::uint32_t> data{side, side};
        data.insert(data.end(), std::size_t{side} * side, argb);
        return data;
    };
    auto join = [](std::vector<std::uint32_t> a, const std::vector<std::uint32_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::uint32_t red = 0xffff0000, blue = 0xff0000ff, green = 0xff00ff00;
    struct Row {
        std::string name;
        std::vector<std::uint32_t> property;
        std::optional<QColor> centre;
    };
    const std::vector<Row> rows = {
        {"one small image", image(16, red), QColor(Qt::red)},
        {"smallest of at least 48", join(join(image(16, red), image(128, green)), image(64, blue)), QColor(Qt::blue)},
        {"largest below 48", join(image(16, red), image(32, green)), QColor(Qt::green)},
        {"cut short", std::vector<std::uint32_t>{16, 16, red}, std::nullopt},
        {"zero width", std::vector<std::uint32_t>{0, 16}, std::nullopt},
        {"size overflows", std::vector<std::uint32_t>{0xffffffff, 0xffffffff, red}, std::nullopt},
        {"empty", {}, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QImage drawn = decoded(WindowIcon::iconText(std::span<const std::uint32_t>(row.property)));
        ASSERT_EQ(drawn.isNull(), !row.centre);
        if (!row.centre) continue;
        EXPECT_EQ(drawn.pixelColor(24, 24), *row.centre);
        EXPECT_EQ(drawn.size(), QSize(48, 48));
    }
    // Xlib's form: 32-bit items in unsigned long.
    std::vector<unsigned long> xlib{2, 2, blue, blue, blue, blue};
    EXPECT_EQ(decoded(WindowIcon::iconText(std::span<const unsigned long>(xlib))).pixelColor(24, 24), QColor(Qt::blue));
}
