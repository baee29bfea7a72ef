#include "agent/service/AgentService.h"

#include <chrono>
#include <thread>

#include "agent/apps/AppMethods.h"
#include "agent/clipboard/ClipboardMethods.h"
#include "agent/control/InputMethods.h"
#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/power/ShutdownMethods.h"
#include "agent/power/ShutdownSeconds.h"
#include "agent/scripting/ScriptableAppMethods.h"
#include "agent/sessions/SessionMethods.h"
#include "agent/shortcuts/HotkeyMethods.h"
#include "agent/shortcuts/ShortcutMethods.h"
#include "agent/support/Log.h"
#include "agent/system/SystemMethods.h"
#include "agent/transport/LocalAddress.h"
#include "agent/update/LiveUpdateService.h"
#include "agent/update/UpdateMethods.h"
#include "protocol/Params.h"

namespace kx {

namespace {
constexpr const char* fallbackHost = "127.0.0.1";

double millisecondsSince1970() {
    auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

WireError gone() {
    return {ErrorCode::internal, "Gone"};
}

// The running applications' identifiers come from the application family, built after this one.
std::shared_ptr<InstalledAppMethods> installedAppMethods(
    AgentServiceOptions& options, const std::shared_ptr<std::weak_ptr<RunningAppsController>>& runningApps) {
    if (!options.installedAppSource) return nullptr;
    auto running = [runningApps] {
        auto apps = runningApps->lock();
        return apps ? apps->runningAppIDs() : std::vector<std::string>{};
    };
    return std::make_shared<InstalledAppMethods>(
        InstalledAppScanner(std::move(options.installedAppSource)), std::move(options.appLauncher), running,
        std::make_shared<IconCache>(std::move(options.iconRender)), std::make_shared<LastScan>());
}

std::shared_ptr<UpdateService> liveUpdates(const AgentServiceOptions& options) {
    LiveUpdateOptions live;
    live.version = options.version;
    if (options.updateBaseURL) live.endpoint.baseURL = *options.updateBaseURL;
    live.preferences = UpdatePreferences::standard();
    live.verifier = options.updateVerifier;
    live.installer = options.updateInstaller;
    return makeLiveUpdateService(std::move(live));
}
}  // namespace

std::shared_ptr<AgentService> AgentService::create(AgentServiceOptions options) {
    AgentIdentity identity = AgentIdentity::loadOrCreate(*options.identityStore);
    std::shared_ptr<AgentService> service(new AgentService(options, std::move(identity)));
    service->connectTransportCallbacks();
    service->connectUpdateCallback();
    service->registerMethodFamilies();
    return service;
}

AgentService::AgentService(AgentServiceOptions& options, AgentIdentity identity)
    : identity_(std::move(identity)),
      registry_(std::make_shared<DeviceRegistry>(options.registryPath)),
      pairing_(std::make_shared<PairingService>(registry_)),
      router_(std::make_shared<CommandRouter>()),
      descriptor_{AgentDescriptor::nameFromHostName(options.hostName), options.version, options.platform, options.os},
      inputMutex_(std::make_shared<InputMutex>()),
      input_(options.eventPoster ? std::make_shared<InputController>(std::move(options.eventPoster), inputMutex_)
                                 : nullptr),
      system_(std::make_shared<SystemController>(options.systemPorts, std::move(options.frontmost))),
      nowPlaying_(std::make_shared<NowPlayingController>(options.systemPorts.players)),
      clipboard_(options.pasteboard ? std::make_shared<ClipboardController>(std::move(options.pasteboard)) : nullptr),
      installedApps_(installedAppMethods(options, runningApps_)),
      commands_(std::make_shared<CommandRegistry>(options.commandsPath, true)),
      sessions_(std::make_shared<SessionController>(
          commands_, options.tmuxPath ? options.tmuxPath : SystemPermissionProbe().tmuxLookup())),
      scripted_(options.fileManager && options.browser ? std::make_shared<ScriptableAppController>(
                                                             std::move(options.fileManager), std::move(options.browser))
                                                       : nullptr),
      shutdown_(ShutdownCountdown::make(std::move(options.shutdownExecutor), shutdownSecondsFromEnvironment())),
      updates_(options.updates ? std::move(options.updates) : liveUpdates(options)),
      sleepGuard_(std::move(options.sleepInhibitor)),
      transport_(TransportServer::create(
          identity_, registry_, pairing_, router_, descriptor_,
          {options.workerCount, options.handshakeTimeout, std::move(options.advertiser), options.sessionLimits})) {
    sessions_->setDangerousCommandHandler(std::move(options.onDangerousCommand));
    buildAppFamilies(options);
}

void AgentService::buildAppFamilies(AgentServiceOptions& options) {
    if (!options.workspace) return;
    if (installedApps_) {
        if (!options.appIcon)
            options.appIcon = [installed = installedApps_](const std::string& id) { return installed->icon(id); };
        if (!options.launchApp)
            options.launchApp = [installed = installedApps_](const InstalledApp& app) { return installed->open(app); };
    }
    apps_ = std::make_shared<RunningAppsController>(
        std::move(options.workspace),
        RunningAppsController::Options{std::move(options.unquittableApps), std::move(options.appIcon),
                                       std::move(options.encodeWindowIcon)});
    *runningApps_ = apps_;
    if (!input_) return;
    auto frontmostID = [apps = apps_]() -> std::optional<std::string> {
        auto app = apps->frontmost();
        return app ? std::optional(app->bundleID) : std::nullopt;
    };
    auto activate = [apps = apps_](const std::string& bundleID) { return apps->activate(bundleID); };
    auto post = [input = input_](const KeyChord& chord) { input->postChord(chord); };

    ShortcutSender::Dependencies shortcut;
    shortcut.installedApps =
        options.installedApps ? std::move(options.installedApps) : [] { return std::vector<InstalledApp>{}; };
    shortcut.running = [apps = apps_] { return apps->runningAppIDs(); };
    shortcut.launch = options.launchApp ? std::move(options.launchApp) : [](const InstalledApp&) { return false; };
    shortcut.activate = activate;
    shortcut.frontmost = frontmostID;
    shortcut.post = post;
    shortcut.sleep = [](double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); };
    shortcut.mayInjectInput = [input = input_] { return input->mayInjectInput(); };
    shortcut.mutex = inputMutex_;
    shortcuts_ = std::make_shared<ShortcutSender>(std::move(shortcut));

    hotkeys_ = std::make_shared<HotkeyController>(
        HotkeyController::Dependencies{inputMutex_, post, frontmostID, activate}, std::move(options.slackApp));
    offerXcode_ = options.offerXcode;
}

AgentService::~AgentService() {
    // Callbacks in flight finish and later ones are dropped; then the transport goes, as its queue
    // and the stop it does on the way out call back into us.
    callbacks_->close();
    transport_.reset();
}

// Every callback from another component comes through the gate and holds no reference to the
// service: a callback running while the owner lets go must never be the one that destroys it.
void AgentService::connectTransportCallbacks() {
    transport_->setOnStateChange([this, gate = callbacks_](const TransportState& state) {
        gate->run([&] {
            if (state.which == TransportState::Case::listening) {
                std::lock_guard guard(portLock_);
                listeningPort_ = state.port;
            }
            if (onStateChange_) onStateChange_(state);
        });
    });
    transport_->setOnConnectionsChange([this, gate = callbacks_](std::size_t count) {
        gate->run([&] {
            sleepGuard_.update(count);
            if (onConnectionsChange_) onConnectionsChange_(count);
        });
    });
}

void AgentService::connectUpdateCallback() {
    updates_->setOnChange([this, gate = callbacks_](const UpdateStatus& status) {
        gate->run([&] {
            transport_->broadcast("agent.update", status.eventParams());
            if (onUpdateChange_) onUpdateChange_(status);
        });
    });
}

void AgentService::registerMethodFamilies() {
    // The order is fixed: a method name registered twice keeps the later handler.
    registerBuiltInMethods();
    if (input_) registerInputMethods(*router_, input_);              // 2
    registerSystemMethods(*router_, system_, nowPlaying_);           // 3
    if (clipboard_) registerClipboardMethods(*router_, clipboard_);  // 3, beside the system methods
    // 4 applications; "system.apps.list", ".activate" and ".quit" come with them.
    if (apps_) registerAppMethods(*router_, apps_);
    if (installedApps_) registerInstalledAppMethods(*router_, installedApps_);  // 5
    if (shortcuts_) registerShortcutMethods(*router_, shortcuts_);              // 6
    registerSessionMethods(*router_, sessions_, commands_);                     // 7
    if (scripted_) registerScriptableAppMethods(*router_, scripted_);           // 8
    if (hotkeys_) registerHotkeyMethods(*router_, hotkeys_, offerXcode_);       // 9
    registerShutdownMethods(*router_, shutdown_, deviceNameLookup());           // 10
    registerUpdateMethods(*router_, updates_);                                  // 11
}

void AgentService::registerBuiltInMethods() {
    router_->registerMethod("agent.ping", std::nullopt, false, [](const JSONObject&, const RequestContext&) {
        return JSONObject{{"t", millisecondsSince1970()}};
    });
    router_->markImmediate("agent.ping");
    router_->registerMethod("agent.info", std::nullopt, true,
                            [this, gate = callbacks_](const JSONObject&, const RequestContext&) {
                                JSONObject info;
                                if (!gate->run([&] { info = agentInfo(); })) throw gone();
                                return info;
                            });
    router_->registerMethod("pair.begin", std::nullopt, false,
                            [this, gate = callbacks_](const JSONObject& params, const RequestContext& context) {
                                JSONObject result;
                                if (!gate->run([&] { result = pairBegin(params, context); })) throw gone();
                                return result;
                            });
}

DeviceNameLookup AgentService::deviceNameLookup() const {
    // The name the person at the computer sees for the phone that asked.
    return [registry = std::weak_ptr(registry_)](const std::optional<std::string>& deviceID) {
        auto strong = registry.lock();
        auto device = strong && deviceID ? strong->device(*deviceID) : std::nullopt;
        return device ? std::optional(device->name) : std::nullopt;
    };
}

JSONObject AgentService::agentInfo() const {
    JSONObject info = descriptor_.toJSON();
    info.emplace("caps", router_->capabilityStrings());
    if (auto unavailable = router_->unavailableWire()) info.emplace("unavailable", std::move(*unavailable));
    return info;
}

JSONObject AgentService::pairBegin(const JSONObject& params, const RequestContext& context) const {
    auto token = params::string(params, "token");
    auto devicePublicKey = params::string(params, "devicePubKey");
    const JSONObject* client = params::object(params, "client");
    auto clientName = client ? params::string(*client, "name") : std::nullopt;
    if (!token || !devicePublicKey || !clientName) throw WireError::invalidParams("Missing pairing fields");
    std::string platform = params::string(*client, "os").value_or("unknown");

    PairedDevice device;
    try {
        device = pairing_->redeem(*token, *clientName, *devicePublicKey, platform);
    } catch (const PairingError& refusal) {
        if (refusal.which == PairingError::Case::notSaved)
            throw WireError(ErrorCode::internal, "Could not save the pairing");
        // The code stays open: spending it after a few wrong tries would let anyone stop a phone from
        // pairing. The person at the computer sees the attempts instead.
        if (auto held = pairingRefusals_.admit())
            log::info("refused a pairing attempt from " + context.peerAddress + " (" + refusal.what() + ")" +
                      (*held ? "; " + std::to_string(*held) + " more refused since the last report" : std::string()));
        throw WireError(ErrorCode::unauthorized, "Pairing refused");
    }
    JSONObject result{{"deviceId", device.id}, {"agent", descriptor_.toJSON()}, {"caps", router_->capabilityStrings()}};
    if (auto unavailable = router_->unavailableWire()) result.emplace("unavailable", std::move(*unavailable));
    return result;
}

void AgentService::start(std::optional<std::uint16_t> port, bool advertise) {
    // Method families that push events start observing here, before the transport.
    observeSystem();
    transport_->start(port, advertise);
}

void AgentService::observeSystem() {
    // Called on the ports' own threads, never on the transport's queue, so broadcasting may wait on it.
    system_->setOnAudioChange([this, gate = callbacks_] {
        gate->run([&] {
            JSONObject state = system_->audioState();
            if (!state.empty()) transport_->broadcast("system.state", std::move(state));
        });
    });
    system_->startObservingAudio();
    system_->setOnFrontmostChange([this, gate = callbacks_] {
        gate->run([&] {
            if (auto app = system_->frontmostJSON()) transport_->broadcast("system.frontmost", std::move(*app));
        });
    });
    system_->startObservingFrontmost();
}

void AgentService::stop() {
    // The watches end here, on the caller's thread, so the last reference never drops inside one.
    system_->stopObserving();
    transport_->stop();
}

PairingPayload AgentService::beginPairing(std::optional<std::string> host) {
    if (!host) host = LocalAddress::primaryIPv4();
    auto token = pairing_->issueToken();
    PairingPayload payload;
    payload.host = host.value_or(fallbackHost);
    payload.port = listeningPort().value_or(0);
    payload.fp = identity_.fingerprint();
    payload.token = token.value;
    payload.name = descriptor_.name;
    return payload;
}

std::size_t AgentService::ringDevices() {
    return transport_->ringDevices();
}

std::optional<std::uint16_t> AgentService::listeningPort() const {
    std::lock_guard guard(portLock_);
    return listeningPort_;
}

}  // namespace kx
