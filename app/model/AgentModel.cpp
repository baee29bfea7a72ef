#include "app/model/AgentModel.h"

#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/power/CountdownRelay.h"
#include "agent/service/AgentService.h"
#include "agent/sessions/SessionController.h"
#include "agent/support/Log.h"
#include "agent/support/PlatformText.h"
#include "agent/update/UpdatePreferences.h"
#include "agent/update/UpdateService.h"
#include "app/model/MenuTexts.h"
#include "protocol/KxSec.h"

namespace kx {

std::shared_ptr<AgentModel> AgentModel::make(Parts parts) {
    return std::shared_ptr<AgentModel>(new AgentModel(std::move(parts)));
}

AgentModel::AgentModel(Parts parts) : parts_(std::move(parts)) {
    if (parts_.updatePreferences) checkUpdatesAutomatically_ = parts_.updatePreferences->automaticChecks();
    if (!parts_.loginItem) return;
    // The first start for a user turns open at login on, once: switching it off later sticks.
    try {
        if (parts_.loginItemDefaulted && !parts_.loginItemDefaulted->isSet()) {
            parts_.loginItemDefaulted->set(true);
            parts_.loginItem->set(true);
        }
    } catch (const std::exception& error) {
        log::error(std::string("open at login: ") + error.what());
    }
    auto status = parts_.loginItem->status();
    openAtLogin_ = status != LoginItem::Status::disabled;
    openAtLoginNeedsApproval_ = status == LoginItem::Status::requiresApproval;
}

AgentModel::~AgentModel() {
    tick_.reset();
    countdownRelay_.reset();
}

void AgentModel::changed() {
    if (onChange_) onChange_();
}

namespace {
// Stores a choice the user made in the window; a store that fails is logged and the window keeps
// showing the choice.
void saveChoice(const char* what, const std::function<void()>& save) {
    try {
        save();
    } catch (const std::exception& error) {
        log::error(what + std::string(error.what()));
    }
}

// Runs `task` on the main thread if the model still exists then. Safe from any thread: it
// touches nothing of the model before the hop.
void hop(const std::weak_ptr<AgentModel>& weak, MainQueue& main, std::function<void(AgentModel&)> task) {
    main.post([weak, task = std::move(task)] {
        if (auto self = weak.lock()) task(*self);
    });
}
}  // namespace

std::string AgentModel::fingerprint() const {
    if (!service_) return "";
    return KxSec::fingerprint(service_->identity().publicKey());
}

std::string AgentModel::agentName() const {
    return service_ ? service_->descriptor().name : PlatformText::thisComputer;
}

bool AgentModel::isPairing() const {
    return pairingExpiry_ && *pairingExpiry_ > parts_.now();
}

int AgentModel::pairingSecondsRemaining() const {
    if (!pairingExpiry_) return 0;
    auto left = std::chrono::duration_cast<std::chrono::seconds>(*pairingExpiry_ - parts_.now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

std::string AgentModel::versionLine() const {
    if (update_) return UpdateMenuText(*update_).versionLine();
    return "Kestrix " + parts_.version;
}

std::optional<UpdateMenuText> AgentModel::updateText() const {
    if (!update_) return std::nullopt;
    return UpdateMenuText(*update_);
}

bool AgentModel::hasUpdate() const {
    auto text = updateText();
    return text && text->showsBadge();
}

void AgentModel::startIfNeeded() {
    if (service_) return;
    std::weak_ptr<AgentModel> weak = weak_from_this();
    auto main = parts_.main;
    auto onDangerous = [weak, main](const SavedCommand& command, const std::string& sessionID) {
        hop(weak, *main, [command, sessionID](AgentModel& self) { self.dangerousCommandAsked(command, sessionID); });
    };
    std::shared_ptr<AgentService> service;
    std::optional<std::string> failure;
    try {
        service = parts_.makeService(onDangerous);
        connectCallbacks(*service);
        service->start(parts_.port, parts_.advertise);
    } catch (const std::system_error& error) {
        failure = "Cannot listen on port " + std::to_string(parts_.port.value_or(0)) + ": " + error.code().message();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    if (failure) {
        // Nothing is kept, so a later call tries again.
        if (service) service->stop();
        countdownRelay_.reset();
        startupError_ = failure;
        log::error("cannot start the agent: " + *failure);
        changed();
        return;
    }
    service_ = std::move(service);
    startupError_.reset();
    update_ = service_->updates().status();
    updatesConfigured_ = service_->updates().isConfigured();
    service_->updates().start();
    refreshDevices();
}

void AgentModel::connectCallbacks(AgentService& service) {
    std::weak_ptr<AgentModel> weak = weak_from_this();
    auto main = parts_.main;
    service.setOnStateChange([weak, main](const TransportState& state) {
        hop(weak, *main, [state](AgentModel& self) {
            self.transportState_ = state;
            self.changed();
        });
    });
    service.setOnConnectionsChange([weak, main](std::size_t count) {
        hop(weak, *main, [count](AgentModel& self) {
            self.connectionCount_ = count;
            self.refreshDevices();  // a phone that connects is seen now
        });
    });
    service.setOnUpdateChange([weak, main](const UpdateStatus&) {
        // The newest status, read on the main thread: a late callback never shows a stale one.
        hop(weak, *main, [](AgentModel& self) {
            if (!self.service_) return;
            self.update_ = self.service_->updates().status();
            self.changed();
        });
    });
    std::weak_ptr<ShutdownCountdown> countdown = service.shutdown();
    countdownRelay_ = CountdownRelay::attach(service.shutdown(), {[weak, main, countdown](const auto&) {
                                                 hop(weak, *main, [countdown](AgentModel& self) {
                                                     auto source = countdown.lock();
                                                     if (!source) return;
                                                     auto snapshot = source->current();
                                                     if (snapshot == self.shutdownCountdown_) return;
                                                     self.shutdownCountdown_ = snapshot;
                                                     if (self.onShutdownChange_) self.onShutdownChange_(snapshot);
                                                     self.changed();
                                                 });
                                             }});
    // A redeemed code closes its window: show the new phone and take the spent code down.
    service.pairing().addWindowClosedObserver([weak, main](std::uint64_t) {
        hop(weak, *main, [](AgentModel& self) {
            if (!self.service_) return;
            if (self.pairingPayload_ && !self.service_->pairing().isPairing())
                self.cancelPairing();
            else
                self.refreshDevices();
        });
    });
}

void AgentModel::refreshDevices() {
    devices_ = service_ ? service_->registry().all() : std::vector<PairedDevice>{};
    std::erase_if(confirmingRevoke_, [&](const std::string& id) {
        return std::none_of(devices_.begin(), devices_.end(), [&](const PairedDevice& d) { return d.id == id; });
    });
    changed();
}

void AgentModel::beginPairing(std::optional<std::string> host) {
    if (!service_) return;
    try {
        pairingPayload_ = service_->beginPairing(std::move(host));
    } catch (const std::exception& error) {
        log::error(std::string("cannot issue a pairing code: ") + error.what());
        pairingPayload_.reset();
    }
    auto lifetime = std::chrono::duration_cast<std::chrono::system_clock::duration>(PairingService::lifetime());
    pairingExpiry_ = parts_.now() + lifetime;
    std::weak_ptr<AgentModel> weak = weak_from_this();
    tick_ = parts_.main->every(pairingTickInterval, [weak] {
        if (auto self = weak.lock()) self->onPairingTick();
    });
    changed();
}

void AgentModel::beginExternalPairing(std::optional<std::string> host) {
    beginPairing(std::move(host));
    if (onExternalPairing_) onExternalPairing_();
}

void AgentModel::onPairingTick() {
    if (!isPairing())
        cancelPairing();
    else
        changed();  // the remaining seconds moved
}

void AgentModel::cancelPairing() {
    if (service_) service_->pairing().cancel();
    pairingPayload_.reset();
    pairingExpiry_.reset();
    tick_.reset();
    refreshDevices();
}

void AgentModel::ringDevices() {
    std::size_t count = service_ ? service_->ringDevices() : 0;
    lastRingResult_ = MenuTexts::ringResult(count);
    std::uint64_t generation = ++ringGeneration_;
    std::weak_ptr<AgentModel> weak = weak_from_this();
    parts_.main->after(ringResultShown, [weak, generation] {
        auto self = weak.lock();
        if (!self || self->ringGeneration_ != generation) return;
        self->lastRingResult_.reset();
        self->changed();
    });
    changed();
}

void AgentModel::pressRevoke(const std::string& deviceID) {
    if (confirmingRevoke_.insert(deviceID).second) return changed();
    confirmingRevoke_.erase(deviceID);
    revoke(deviceID);
}

void AgentModel::revoke(const std::string& deviceID) {
    if (service_) service_->registry().revoke(deviceID);
    refreshDevices();
}

void AgentModel::killSwitch() {
    if (service_) service_->stop();
    cancelPairing();
    connectionCount_ = 0;
    changed();
}

void AgentModel::resume() {
    if (!service_) return;
    try {
        service_->start(service_->listeningPort() ? service_->listeningPort() : parts_.port, parts_.advertise);
    } catch (const std::exception& error) {
        log::error(std::string("cannot listen again: ") + error.what());
    }
}

void AgentModel::setOpenAtLogin(bool on) {
    openAtLogin_ = on;
    if (parts_.loginItem) saveChoice("open at login: ", [&] { parts_.loginItem->set(on); });
    changed();
}

void AgentModel::cancelShutdown() {
    if (service_) service_->shutdown()->cancel();
}

void AgentModel::shutdownNow() {
    if (service_) service_->shutdown()->now();
}

void AgentModel::checkForUpdates() {
    inBackground([](AgentService& service) { service.updates().checkNow(); });
}

void AgentModel::installUpdate() {
    if (!service_) return;
    try {
        service_->updates().install();
    } catch (const InstallRefusalError&) {
        // The status already says why nothing is installed.
    }
}

void AgentModel::setCheckUpdatesAutomatically(bool on) {
    checkUpdatesAutomatically_ = on;
    if (parts_.updatePreferences)
        saveChoice("cannot save the update preference: ", [&] { parts_.updatePreferences->setAutomaticChecks(on); });
    changed();
}

void AgentModel::dangerousCommandAsked(const SavedCommand& command, const std::string& sessionID) {
    // The same command for the same session asks once; the oldest question gives way to a new one.
    std::erase_if(confirmations_, [&](const PendingConfirmation& pending) {
        return pending.commandID == command.id && pending.sessionID == sessionID;
    });
    if (confirmations_.size() >= maxPendingConfirmations) confirmations_.erase(confirmations_.begin());
    std::string sessionName = sessionID.substr(std::min(sessionID.size(), SessionController::prefix.size()));
    PendingConfirmation pending{nextConfirmation_++, command.id, command.name, sessionID, sessionName};
    confirmations_.push_back(pending);
    std::weak_ptr<AgentModel> weak = weak_from_this();
    parts_.main->after(confirmationShown, [weak, id = pending.id] {
        if (auto self = weak.lock()) self->dismissConfirmation(id);
    });
    changed();
}

void AgentModel::dismissConfirmation(std::uint64_t id) {
    auto before = confirmations_.size();
    std::erase_if(confirmations_, [id](const PendingConfirmation& pending) { return pending.id == id; });
    if (confirmations_.size() != before) changed();
}

void AgentModel::answerConfirmation(std::uint64_t id, bool run) {
    auto found = std::find_if(confirmations_.begin(), confirmations_.end(),
                              [id](const PendingConfirmation& pending) { return pending.id == id; });
    if (found == confirmations_.end()) return;  // already answered or gone after its time
    PendingConfirmation pending = *found;
    dismissConfirmation(id);
    if (!run) return;
    inBackground([pending](AgentService& service) {
        service.sessions().runConfirmed(pending.commandID, pending.sessionID);
        log::info("ran the confirmed command " + pending.commandName + " in " + pending.sessionName);
    });
}

void AgentModel::inBackground(std::function<void(AgentService&)> work) {
    if (!service_) return;
    std::erase_if(background_, [](const BackgroundTask& task) { return task.done->load(); });
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::jthread thread([service = service_, work = std::move(work), done] {
        try {
            work(*service);
        } catch (const std::exception& error) {
            log::error(std::string("background task failed: ") + error.what());
        } catch (...) {
            log::error("background task failed");
        }
        done->store(true);
    });
    background_.push_back({done, std::move(thread)});
}

}  // namespace kx
