#pragma once

#include <set>
#include <string>

#include "agent/shortcuts/HotkeyController.h"

namespace kx::LinuxDesktopApps {

// Desktop-entry ids that are never quit from the phone: the agent itself and the parts of the
// common desktops that keep the session usable (shell, panel, desktop icons, window manager).
// Applications that own a panel or desktop window are refused as well, whatever their id.
inline const std::set<std::string>& unquittable() {
    static const std::set<std::string> ids = {// this agent
                                              "com.kestrix.agent",
                                              // GNOME, Cinnamon, MATE
                                              "org.gnome.Shell", "org.gnome.Shell.Extensions.DING", "gnome-panel",
                                              "cinnamon", "nemo-desktop", "mate-panel", "marco", "mutter", "muffin",
                                              // KDE Plasma
                                              "org.kde.plasmashell", "plasmashell", "org.kde.kwin", "kwin_x11",
                                              // Xfce
                                              "xfce4-panel", "xfdesktop", "xfwm4",
                                              // LXDE, LXQt
                                              "lxpanel", "lxqt-panel", "pcmanfm-desktop", "pcmanfm-qt-desktop",
                                              // window managers without a desktop
                                              "openbox", "fluxbox", "icewm", "i3", "awesome"};
    return ids;
}

// Slack's desktop app on Linux (its package's desktop entry), with Ctrl where the Mac uses Command.
inline HotkeyApp slack() {
    return {"slack", {{"markAllRead", "shift+escape"}, {"quickSwitcher", "ctrl+k"}, {"preferences", "ctrl+,"}}};
}

}  // namespace kx::LinuxDesktopApps
