#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <X11/Xlib.h>

#include "agent/apps/AppIdentity.h"
#include "agent/apps/Workspace.h"
#include "platform/linux/input/X11Connection.h"

namespace kx {

// The running applications of an X desktop with an EWMH window manager: the windows of
// _NET_CLIENT_LIST grouped by application (AppIdentity), the active one from _NET_ACTIVE_WINDOW.
// An application is regular when it has a normal window not skipped by the taskbar, and essential
// when it owns a panel or desktop window or is this process. Activation and closing are requests
// to the window manager (_NET_ACTIVE_WINDOW, _NET_CLOSE_WINDOW), as a taskbar makes them.
class X11Workspace : public Workspace {
public:
    // Windows read from one listing at most; a desktop has far fewer.
    static constexpr long maxWindows = 4096;
    // 32-bit items of _NET_WM_ICON read at most (a 256 x 256 icon and smaller ones).
    static constexpr long maxIconItems = 256 * 256 + 128 * 128 + 64 * 64 + 48 * 48 + 32 * 32 + 16 * 16 + 12;
    static constexpr std::uint32_t preferredIconSize = 48;
    // How long the windows of the last listing serve to find an application's icon, so that a
    // list with icons reads the desktop once, not once more per application.
    static constexpr std::chrono::milliseconds listingReuse{1000};

    // An empty name means the display named by $DISPLAY.
    explicit X11Workspace(std::shared_ptr<AppIdentity> identity, std::string displayName = {});
    ~X11Workspace() override;

    std::vector<RunningApp> apps() override;
    bool activate(const std::string& bundleID) override;
    bool quit(const std::string& bundleID) override;
    std::optional<FrontmostApp> frontmost() override;
    std::optional<IconPixels> windowIcon(const std::string& bundleID) override;

private:
    // What one client window says about itself; kept per window while it exists, because none of
    // it changes during a window's life (type and state are read afresh).
    struct Facts {
        WindowFacts window;
        bool ours = false;  // belongs to this process
    };
    struct ListedWindow {
        Window id = 0;
        Facts facts;
        bool regular = false;
        bool essential = false;
        bool hidden = false;
        int stacking = -1;  // higher is nearer the top
    };
    struct Listing {
        std::vector<ListedWindow> windows;  // in _NET_CLIENT_LIST order
        Window active = 0;
    };
    struct Atoms;

    // Reads the client windows under the connection's lock; false without a display.
    bool list(Listing& listing);
    // With the connection's lock held.
    void syncServer(Display* display);
    const Facts& factsOf(Display* display, Window window);
    // The application identifiers of the listing's windows (outside the connection's lock).
    std::vector<std::optional<AppIdentity::Result>> identify(const Listing& listing);
    std::vector<Window> windowsOf(const std::string& bundleID, Listing& listing);
    // Remembers which windows each application had in the newest listing.
    void remember(const Listing& listing, const std::vector<std::optional<AppIdentity::Result>>& identities);
    // Asks the window manager to activate or to close the window, as a taskbar would.
    void sendToWindowManager(Window window, bool close);

    std::shared_ptr<AppIdentity> identity_;
    X11Connection connection_;
    // Guarded by the connection's lock.
    std::unique_ptr<Atoms> atoms_;
    std::uint64_t serverGeneration_ = 0;
    std::map<Window, Facts> facts_;

    std::mutex recentLock_;
    std::map<std::string, std::vector<Window>> recentWindows_;  // best window first
    std::chrono::steady_clock::time_point recentAt_{};
};

}  // namespace kx
