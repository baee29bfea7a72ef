#pragma once

#include <memory>
#include <string>

// What the tests publish on the X display. No X headers here: the tests that include
// this also use Qt.
namespace kx::testing {

class DesktopProbe {
public:
    // Null when $DISPLAY names no reachable display.
    static std::unique_ptr<DesktopProbe> open();
    ~DesktopProbe();

    // Acts as the desktop's XSETTINGS manager publishing one string setting, until `stopSettings`.
    void publishSetting(const std::string& name, const std::string& value);
    void stopSettings();

private:
    struct State;
    explicit DesktopProbe(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace kx::testing
