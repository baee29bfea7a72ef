#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/pairing/PairedDevice.h"
#include "agent/pairing/PairingPayload.h"
#include "agent/power/ShutdownCountdown.h"
#include "agent/sessions/SavedCommand.h"
#include "agent/support/MainQueue.h"
#include "agent/transport/TransportState.h"
#include "agent/update/UpdateMenuText.h"
#include "agent/update/UpdateStatus.h"
#include "app/model/LoginItem.h"
#include "app/model/SettingsFlag.h"

namespace kx {

class AgentService;
class CountdownRelay;
class UpdatePreferences;

// A saved command marked dangerous that a phone asked to run: the person at the computer decides.
struct PendingConfirmation {
    std::uint64_t id = 0;
    std::string commandID;
    std::string commandName;
    std::string sessionID;
    std::string sessionName;  // the session's id without the agent's prefix

    // "Run NAME in SESSION?"
    std::string question() const { return "Run " + commandName + " in " + sessionName + "?"; }
};

// The desktop app's model of the agent: builds the agent service, mirrors its state for the
// window and carries out the user's actions. Main thread only; the service's callbacks hop to the
// main thread (holding the model weakly) before they touch it. Every change calls onChange.
class AgentModel : public std::enable_shared_from_this<AgentModel> {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    struct Parts {
        std::shared_ptr<MainQueue> main;
        // Builds the agent service; throws when it cannot. Told where dangerous commands go.
        std::function<std::shared_ptr<AgentService>(
            std::function<void(const SavedCommand&, const std::string& sessionID)> onDangerousCommand)>
            makeService;
        std::optional<std::uint16_t> port;  // absent: any free port
        bool advertise = true;
        std::shared_ptr<LoginItem> loginItem;                  // null: no open at login
        std::optional<SettingsFlag> loginItemDefaulted;        // set once the login item was first registered
        std::shared_ptr<UpdatePreferences> updatePreferences;  // null: automatic checks on, not saved
        std::string version = "0.0.0";
        Clock now = [] { return std::chrono::system_clock::now(); };
    };

    static constexpr std::chrono::milliseconds pairingTickInterval{1000};
    static constexpr std::chrono::milliseconds ringResultShown{4000};
    static constexpr std::chrono::milliseconds confirmationShown{60000};
    // Questions waiting at once; a phone cannot pile up more.
    static constexpr std::size_t maxPendingConfirmations = 4;

    static std::shared_ptr<AgentModel> make(Parts parts);
    ~AgentModel();
    AgentModel(const AgentModel&) = delete;
    AgentModel& operator=(const AgentModel&) = delete;

    void setOnChange(std::function<void()> callback) { onChange_ = std::move(callback); }
    // Told each new countdown state, and absent once it ended (the shutdown panel).
    void setOnShutdownChange(std::function<void(const std::optional<ShutdownCountdown::Snapshot>&)> callback) {
        onShutdownChange_ = std::move(callback);
    }
    // Told when pairing began from outside the window (a control command), so it can be shown.
    void setOnExternalPairing(std::function<void()> callback) { onExternalPairing_ = std::move(callback); }

    // State.
    const TransportState& transportState() const { return transportState_; }
    std::size_t connectionCount() const { return connectionCount_; }
    const std::vector<PairedDevice>& devices() const { return devices_; }
    const std::optional<PairingPayload>& pairingPayload() const { return pairingPayload_; }
    const std::optional<std::string>& startupError() const { return startupError_; }
    const std::optional<ShutdownCountdown::Snapshot>& shutdownCountdown() const { return shutdownCountdown_; }
    const std::optional<UpdateStatus>& update() const { return update_; }
    bool updatesConfigured() const { return updatesConfigured_; }
    bool checkUpdatesAutomatically() const { return checkUpdatesAutomatically_; }
    bool openAtLogin() const { return openAtLogin_; }
    bool openAtLoginNeedsApproval() const { return openAtLoginNeedsApproval_; }
    const std::optional<std::string>& lastRingResult() const { return lastRingResult_; }
    const std::vector<PendingConfirmation>& pendingConfirmations() const { return confirmations_; }
    bool isConfirmingRevoke(const std::string& deviceID) const { return confirmingRevoke_.contains(deviceID); }

    // Derived.
    bool hasService() const { return service_ != nullptr; }
    std::string fingerprint() const;
    std::string agentName() const;
    bool isPairing() const;
    int pairingSecondsRemaining() const;
    std::string versionLine() const;
    std::optional<UpdateMenuText> updateText() const;
    bool hasUpdate() const;
    std::chrono::system_clock::time_point now() const { return parts_.now(); }
    // The service, for the control socket; null until started.
    const std::shared_ptr<AgentService>& service() const { return service_; }

    // Actions.
    void startIfNeeded();
    void refreshDevices();
    // `host` overrides the address in the code (a control command may name one).
    void beginPairing(std::optional<std::string> host = std::nullopt);
    // beginPairing for a request from outside the window; also tells onExternalPairing.
    void beginExternalPairing(std::optional<std::string> host);
    void cancelPairing();
    void ringDevices();
    // The row's "Revoke" button: the first press asks "Sure?", the second revokes.
    void pressRevoke(const std::string& deviceID);
    void revoke(const std::string& deviceID);
    void killSwitch();
    void resume();
    void setOpenAtLogin(bool on);
    void cancelShutdown();
    void shutdownNow();
    void checkForUpdates();
    void installUpdate();
    void setCheckUpdatesAutomatically(bool on);
    // The answer to a pending confirmation: run types the command into its session.
    void answerConfirmation(std::uint64_t id, bool run);

private:
    explicit AgentModel(Parts parts);

    void changed();
    void connectCallbacks(AgentService& service);
    void onPairingTick();
    void dangerousCommandAsked(const SavedCommand& command, const std::string& sessionID);
    void dismissConfirmation(std::uint64_t id);
    // Runs work that may block (an update check, tmux) off the main thread; joined at destruction.
    void inBackground(std::function<void(AgentService&)> work);

    Parts parts_;
    TransportState transportState_;
    std::size_t connectionCount_ = 0;
    std::vector<PairedDevice> devices_;
    std::optional<PairingPayload> pairingPayload_;
    std::optional<std::string> startupError_;
    std::optional<ShutdownCountdown::Snapshot> shutdownCountdown_;
    std::optional<UpdateStatus> update_;
    bool updatesConfigured_ = false;
    bool checkUpdatesAutomatically_ = true;
    bool openAtLogin_ = false;
    bool openAtLoginNeedsApproval_ = false;
    std::shared_ptr<AgentService> service_;
    std::optional<std::chrono::system_clock::time_point> pairingExpiry_;
    std::unique_ptr<MainQueue::Repeat> tick_;
    std::optional<std::string> lastRingResult_;
    std::uint64_t ringGeneration_ = 0;
    std::set<std::string> confirmingRevoke_;
    std::vector<PendingConfirmation> confirmations_;
    std::uint64_t nextConfirmation_ = 1;
    std::shared_ptr<CountdownRelay> countdownRelay_;
    std::function<void()> onChange_;
    std::function<void(const std::optional<ShutdownCountdown::Snapshot>&)> onShutdownChange_;
    std::function<void()> onExternalPairing_;
    struct BackgroundTask {
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };
    std::vector<BackgroundTask> background_;  // last: joined before the rest goes
};

}  // namespace kx
