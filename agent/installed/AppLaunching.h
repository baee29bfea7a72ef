#pragma once

#include <chrono>
#include <string>

namespace kx {

// Starts an installed application and brings it forward.
class AppLaunching {
public:
    // How long open() waits for the platform to report the outcome before assuming the launch is
    // under way.
    static constexpr auto launchWait = std::chrono::milliseconds(2000);

    virtual ~AppLaunching() = default;
    // Launches the application at `location` (InstalledApp::url). False when the platform refused
    // or failed within launchWait; true when it succeeded or had not answered by then.
    virtual bool open(const std::string& location) = 0;
};

}  // namespace kx
