#pragma once

#include <optional>
#include <string>
#include <vector>

#include "agent/apps/FrontmostSource.h"
#include "agent/apps/IconPixels.h"
#include "agent/apps/RunningApp.h"

namespace kx {

// The desktop's running applications, as the application methods need them. Implementations are
// safe to call from several threads at once and answer "nothing" when the desktop cannot be read.
class Workspace {
public:
    virtual ~Workspace() = default;

    // Every application with a window, regular or not, in the order the desktop lists them.
    virtual std::vector<RunningApp> apps() = 0;
    // Asks the desktop to bring the application's window to the front; false when no running
    // application has that identifier or the request could not be made.
    virtual bool activate(const std::string& bundleID) = 0;
    // Asks each of the application's windows to close, as its close button would (never a kill);
    // false when none could be asked.
    virtual bool quit(const std::string& bundleID) = 0;
    virtual std::optional<FrontmostApp> frontmost() = 0;
    // The icon one of the application's windows carries itself, at the size closest to 48 pixels.
    virtual std::optional<IconPixels> windowIcon(const std::string& bundleID) = 0;
};

}  // namespace kx
