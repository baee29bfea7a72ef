#pragma once

#include <string>

namespace kx {

// The icon theme the user's desktop uses: the XSETTINGS manager's Net/IconThemeName, else GTK's
// gtk-icon-theme-name in $XDG_CONFIG_HOME/gtk-3.0/settings.ini, else KDE's [Icons] Theme in
// $XDG_CONFIG_HOME/kdeglobals, else "hicolor".
class IconThemeName {
public:
    static std::string current();
};

}  // namespace kx
