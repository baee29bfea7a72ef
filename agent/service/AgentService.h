#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "agent/apps/RunningAppsController.h"
#include "agent/clipboard/ClipboardController.h"
#include "agent/control/InputController.h"
#include "agent/control/InputMutex.h"
#include "agent/installed/InstalledAppMethods.h"
#include "agent/pairing/AgentIdentity.h"
#include "agent/pairing/PairingPayload.h"
#include "agent/power/ShutdownCountdown.h"
#include "agent/power/ShutdownMethods.h"
#include "agent/scripting/ScriptableAppController.h"
#include "agent/service/AgentServiceOptions.h"
#include "agent/sessions/CommandRegistry.h"
#include "agent/sessions/SessionController.h"
#include "agent/shortcuts/HotkeyController.h"
#include "agent/shortcuts/ShortcutSender.h"
#include "agent/support/CallbackGate.h"
#include "agent/support/LogThrottle.h"
#include "agent/system/NowPlayingController.h"
#include "agent/system/SystemController.h"
#include "agent/transport/CommandRouter.h"
#include "agent/transport/SleepGuard.h"
#include "agent/transport/TransportServer.h"
#include "protocol/AgentDescriptor.h"

namespace kx {

class DeviceRegistry;
class PairingService;

// The agent core: builds identity, paired devices, pairing, the method table and the transport,
// registers every method family in a fixed order, serves the built-in methods, and keeps the
// machine awake while a phone is connected.
//
// Method families: each lives in a folder of its own and exposes one registration function,
// register<Family>Methods(router, what it needs); it adds its component below (field, accessor,
// construction in the constructor) and that one call at its place in registerMethodFamilies().
class AgentService {
public:
    // Throws what loading or creating the identity throws; nothing is kept in that case.
    static std::shared_ptr<AgentService> create(AgentServiceOptions options);
    ~AgentService();
    AgentService(const AgentService&) = delete;
    AgentService& operator=(const AgentService&) = delete;

    // Throws std::system_error when the listener cannot be created.
    void start(std::optional<std::uint16_t> port, bool advertise);
    void stop();
    // Issues a new pairing code. Host: the given one, else the primary IPv4 address, else 127.0.0.1.
    PairingPayload beginPairing(std::optional<std::string> host = std::nullopt);
    // Pushes "device.ring"; returns the number of connections.
    std::size_t ringDevices();

    const AgentIdentity& identity() const { return identity_; }
    DeviceRegistry& registry() { return *registry_; }
    PairingService& pairing() { return *pairing_; }
    // Methods of one's own may be registered before start; the table is fixed afterwards.
    CommandRouter& router() { return *router_; }
    TransportServer& transport() { return *transport_; }
    const AgentDescriptor& descriptor() const { return descriptor_; }
    CommandRegistry& commands() { return *commands_; }
    const SessionController& sessions() const { return *sessions_; }
    // The pending shutdown or restart; its length comes from KX_SHUTDOWN_SECONDS when valid.
    const std::shared_ptr<ShutdownCountdown>& shutdown() const { return shutdown_; }
    UpdateService& updates() { return *updates_; }
    SleepGuard& sleepGuard() { return sleepGuard_; }
    std::optional<std::uint16_t> listeningPort() const;

    // Serialises synthetic input for multi-step operations.
    const std::shared_ptr<InputMutex>& inputMutex() const { return inputMutex_; }
    // Pointer, key and text input; null when the service was built without an event poster.
    const std::shared_ptr<InputController>& input() const { return input_; }

    // Set before start; called on the transport's queue or on the caller of start/stop.
    void setOnStateChange(std::function<void(const TransportState&)> callback) { onStateChange_ = std::move(callback); }
    void setOnConnectionsChange(std::function<void(std::size_t)> callback) {
        onConnectionsChange_ = std::move(callback);
    }
    // Called after every update status change, once it has been pushed to the phones.
    void setOnUpdateChange(std::function<void(const UpdateStatus&)> callback) { onUpdateChange_ = std::move(callback); }

private:
    AgentService(AgentServiceOptions& options, AgentIdentity identity);

    void connectTransportCallbacks();
    void connectUpdateCallback();
    void observeSystem();
    void buildAppFamilies(AgentServiceOptions& options);
    void registerMethodFamilies();
    void registerBuiltInMethods();
    DeviceNameLookup deviceNameLookup() const;
    JSONObject agentInfo() const;
    JSONObject pairBegin(const JSONObject& params, const RequestContext& context) const;

    // What the components' callbacks into this service pass through; closed first on destruction.
    std::shared_ptr<CallbackGate> callbacks_ = std::make_shared<CallbackGate>();
    AgentIdentity identity_;
    std::shared_ptr<DeviceRegistry> registry_;
    std::shared_ptr<PairingService> pairing_;
    std::shared_ptr<CommandRouter> router_;
    AgentDescriptor descriptor_;
    // Method families' components go here, in registration order.
    std::shared_ptr<InputMutex> inputMutex_;
    std::shared_ptr<InputController> input_;  // null without an event poster
    std::shared_ptr<SystemController> system_;
    std::shared_ptr<NowPlayingController> nowPlaying_;
    // Null without a pasteboard.
    std::shared_ptr<ClipboardController> clipboard_;
    // What the installed-application family asks for the running applications; set once apps_ is.
    std::shared_ptr<std::weak_ptr<RunningAppsController>> runningApps_ =
        std::make_shared<std::weak_ptr<RunningAppsController>>();
    // Null without an installed-app source.
    std::shared_ptr<InstalledAppMethods> installedApps_;
    std::shared_ptr<RunningAppsController> apps_;  // null without a workspace
    std::shared_ptr<ShortcutSender> shortcuts_;    // null without a workspace or input
    std::shared_ptr<HotkeyController> hotkeys_;    // null without a workspace or input
    bool offerXcode_ = false;
    std::shared_ptr<CommandRegistry> commands_;
    std::shared_ptr<SessionController> sessions_;
    // Null without a file manager and a browser.
    std::shared_ptr<ScriptableAppController> scripted_;
    std::shared_ptr<ShutdownCountdown> shutdown_;
    std::shared_ptr<UpdateService> updates_;

    // Refused pairing attempts are logged, at most a line a second: anyone on the network can make them.
    mutable LogThrottle pairingRefusals_;
    mutable std::mutex portLock_;
    std::optional<std::uint16_t> listeningPort_;
    std::function<void(const TransportState&)> onStateChange_;
    std::function<void(std::size_t)> onConnectionsChange_;
    std::function<void(const UpdateStatus&)> onUpdateChange_;
    SleepGuard sleepGuard_;
    // Last, so that it is destroyed first: its queue calls back into the members above.
    std::shared_ptr<TransportServer> transport_;
};

}  // namespace kx
