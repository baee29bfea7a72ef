#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

// What the tests read from and publish on the X display. No X headers here: the tests that include
// this also use Qt.
namespace kx::testing {

class DesktopProbe {
public:
    // Null when $DISPLAY names no reachable display.
    static std::unique_ptr<DesktopProbe> open();
    ~DesktopProbe();

    // Process ids (0 where unknown) of the managed windows (_NET_CLIENT_LIST) whose WM_CLASS class is
    // `windowClass`.
    std::vector<pid_t> clientsOfClass(const std::string& windowClass);
    // Acts as the desktop's XSETTINGS manager publishing one string setting, until `stopSettings`.
    void publishSetting(const std::string& name, const std::string& value);
    void stopSettings();

private:
    struct State;
    explicit DesktopProbe(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace kx::testing
