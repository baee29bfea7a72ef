#pragma once

#include <chrono>
#include <filesystem>
#include <memory>

#include "agent/support/MainQueue.h"
#include "daemon/ControlServer.h"
#include "daemon/CoreControlCommands.h"
#include "daemon/StatusReport.h"

namespace kx {

class AgentModel;

// The control socket of the desktop app: the same commands as kestrixd's, on the app's agent,
// except that `pair` begins pairing through the model, so the window shows the code it prints.
class DesktopControl {
public:
    // How long `pair` waits for the main thread to issue the code.
    static constexpr std::chrono::seconds pairWait{5};

    // Claims the socket for the data folder and serves it; the model must have started its
    // service. Throws ControlError when the socket cannot be claimed.
    DesktopControl(const std::shared_ptr<AgentModel>& model, std::shared_ptr<MainQueue> main,
                   const std::filesystem::path& dataFolder, ListenSettings listen);
    ~DesktopControl();

private:
    ControlServer server_;
    StatusReport status_;
};

}  // namespace kx
