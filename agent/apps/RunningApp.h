#pragma once

#include <string>

namespace kx {

// One application with windows on the desktop, under the identifier the application methods share.
struct RunningApp {
    std::string bundleID;
    std::string name;
    bool active = false;  // owns the active window
    // Has a window the user switches to (a normal window shown in the taskbar); panels, desktop
    // icons and helper windows alone do not make an application regular.
    bool regular = true;
    // Part of the desktop itself (it owns a panel or desktop window, or is this process): never quit.
    bool essential = false;

    bool operator==(const RunningApp&) const = default;
};

}  // namespace kx
