#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The desktop settings that an XSETTINGS manager (the desktop's settings daemon) publishes on the
// X display, e.g. "Net/IconThemeName".
class XSettings {
public:
    // The string setting `name` of the screen's settings manager on the display named by $DISPLAY;
    // none without a display, a manager or such a string setting.
    static std::optional<std::string> readString(std::string_view name);

    // The string setting `name` in the manager's _XSETTINGS_SETTINGS property data; none when the
    // data holds no such string or is malformed.
    static std::optional<std::string> parseString(std::string_view data, std::string_view name);
};

}  // namespace kx
