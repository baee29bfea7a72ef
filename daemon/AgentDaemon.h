#pragma once

#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/service/AgentService.h"
#include "agent/support/InstanceLock.h"
#include "daemon/ControlServer.h"
#include "daemon/CoreControlCommands.h"
#include "daemon/StatusReport.h"

namespace kx {

class CountdownRelay;
class PairingExpiryTick;
class StopSignals;

struct DaemonSettings {
    std::filesystem::path dataFolder;  // absolute and canonical; created beforehand
    ListenSettings listen;
    bool pairAtStart = false;
    std::string version;
    std::optional<std::string> updateBaseURL;  // overrides the build's and the environment's update host
};

// The headless agent: the agent service with the Linux implementations of its platform
// interfaces, plus the control socket through which the person at the computer manages it.
//
// Method families: add the control commands and status lines of your family in
// registerControlCommands(), after the core's.
class AgentDaemon {
public:
    // Locks the data folder and claims the control socket (refusing a second agent on the same
    // data folder) and builds the agent. Throws InstanceLock::Held, ControlError or the identity
    // store's error.
    explicit AgentDaemon(DaemonSettings settings);
    ~AgentDaemon();

    // Listens, serves control commands and waits for SIGINT or SIGTERM through `stop`, made
    // before any other thread. Returns the process's exit code.
    int run(StopSignals& stop);

    AgentService& service() { return *service_; }
    ControlServer& control() { return control_; }
    StatusReport& status() { return status_; }

private:
    void registerControlCommands();
    void printPairingCode();
    // Logs once the newest pairing code can no longer be used (redeemed or expired).
    void watchPairingCode();
    void logStateChange(const TransportState& state);

    DaemonSettings settings_;
    InstanceLock instanceLock_;  // before everything that uses the data folder
    ControlServer control_;
    StatusReport status_;
    std::mutex logLock_;
    TransportState lastLogged_;
    std::shared_ptr<AgentService> service_;
    // Shows a pending shutdown on standard error and as a desktop notification.
    std::shared_ptr<CountdownRelay> shutdownAnnouncer_;
    std::mutex pairingWatchLock_;
    std::unique_ptr<PairingExpiryTick> pairingWatch_;  // after service_: stops before the service goes
};

}  // namespace kx
