#include "daemon/AgentDaemon.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "agent/pairing/PairingExpiryTick.h"
#include "agent/support/Log.h"
#include "daemon/ControlSocketPath.h"
#include "daemon/ShutdownAnnouncer.h"
#include "daemon/ShutdownControlCommands.h"
#include "daemon/StopSignals.h"
#include "daemon/TerminalQRCode.h"
#include "daemon/UpdateControlCommands.h"
#include "platform/linux/service/LinuxAgentOptions.h"
#include "platform/linux/update/LinuxUpdateParts.h"

namespace kx {

AgentDaemon::AgentDaemon(DaemonSettings settings)
    : settings_(std::move(settings)),
      instanceLock_(settings_.dataFolder),
      control_(ControlSocketPath::forDataFolder(settings_.dataFolder), settings_.dataFolder),
      service_(
          AgentService::create(linuxAgentOptions(settings_.dataFolder, settings_.version, settings_.updateBaseURL))) {
    service_->setOnStateChange([this](const TransportState& state) { logStateChange(state); });
    shutdownAnnouncer_ = announceShutdownCountdown(service_->shutdown());
    registerControlCommands();
}

AgentDaemon::~AgentDaemon() {
    control_.stop();
}

void AgentDaemon::registerControlCommands() {
    registerCoreControlCommands(control_, *service_, status_, settings_.listen, [this] { watchPairingCode(); });
    registerShutdownControlCommands(control_, service_->shutdown(), status_);
    registerUpdateControlCommands(control_, service_->updates(), status_);
}

int AgentDaemon::run(StopSignals& stop) {
    log::info("kestrixd " + settings_.version + " for data folder " + settings_.dataFolder.string());
    try {
        service_->start(settings_.listen.port, settings_.listen.advertise);
    } catch (const std::system_error& error) {
        log::error("cannot listen on port " + std::to_string(settings_.listen.port.value_or(0)) + ": " +
                   error.code().message());
        return 1;
    }
    // A swap that put this version back says why in the first update status, which must be in place
    // before the control socket answers: `kestrixd update` takes an answer without it for success.
    if (auto failure = LinuxUpdateParts::takeSwapFailure(settings_.dataFolder))
        service_->updates().reportEarlierFailure(*failure);
    control_.start();
    service_->updates().start();
    if (settings_.pairAtStart) printPairingCode();

    stop.wait();
    control_.stop();
    service_->updates().stop();
    service_->stop();
    return 0;
}

void AgentDaemon::printPairingCode() {
    ControlReply code = issuePairingCode(*service_, std::nullopt);
    std::cout << code.text << TerminalQRCode::render(*code.qrCode, ::isatty(STDOUT_FILENO)) << std::flush;
    watchPairingCode();
}

void AgentDaemon::watchPairingCode() {
    // Shares ownership of the whole service, so the tick never outlives the pairing service it checks.
    std::shared_ptr<PairingService> pairing(service_, &service_->pairing());
    std::lock_guard guard(pairingWatchLock_);
    pairingWatch_ = std::make_unique<PairingExpiryTick>(
        pairing, [] { log::info("pairing code closed (used or expired); `kestrixd pair` issues a new one"); });
}

void AgentDaemon::logStateChange(const TransportState& state) {
    std::lock_guard guard(logLock_);
    // A start passes through "stopped" and "starting" on its way; only where it lands is news.
    bool passing = state.which == TransportState::Case::starting ||
                   (state.which == TransportState::Case::stopped && lastLogged_.which == TransportState::Case::stopped);
    if (passing) return;
    lastLogged_ = state;
    log::info("transport " + state.description());
}

}  // namespace kx
