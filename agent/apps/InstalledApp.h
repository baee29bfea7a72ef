#pragma once

#include <string>

namespace kx {

// An application the user can launch. On Linux it is a desktop entry: `bundleID` is the entry's id
// (its file name without ".desktop", e.g. "org.gnome.Nautilus"), the one identifier that the running
// list, the installed list, icons, launch, activate, quit, shortcuts and frontmost events share.
struct InstalledApp {
    std::string bundleID;  // never empty
    std::string name;      // localised display name
    std::string url;       // where it lives: the desktop entry's file path on Linux

    // What a window is matched against to find its application (empty when the entry has none).
    std::string startupWMClass;  // StartupWMClass=
    std::string executable;      // base name of the program that Exec= (or TryExec=) runs
    std::string iconName;        // Icon=: a theme icon name or an absolute path

    bool operator==(const InstalledApp&) const = default;
};

}  // namespace kx
