#include "agent/service/AgentService.h"

#include <chrono>

#include "agent/control/InputMethods.h"
#include "agent/pairing/DeviceRegistry.h"
#include "agent/pairing/PairingService.h"
#include "agent/permissions/SystemPermissionProbe.h"
#include "agent/power/ShutdownMethods.h"
#include "agent/power/ShutdownSeconds.h"
#include "agent/sessions/SessionMethods.h"
#include "agent/support/Log.h"
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

std::shared_ptr<UpdateService> liveUpdates(const AgentServiceOptions& options) {
    LiveUpdateOptions live;
    live.version = options.version;
    if (options.updateBaseURL) live.endpoint.baseURL = *options.updateBaseURL;
    live.preferences = UpdatePreferences::standard();
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
      commands_(std::make_shared<CommandRegistry>(options.commandsPath, true)),
      sessions_(std::make_shared<SessionController>(
          commands_, options.tmuxPath ? options.tmuxPath : SystemPermissionProbe().tmuxLookup())),
      shutdown_(ShutdownCountdown::make(std::move(options.shutdownExecutor), shutdownSecondsFromEnvironment())),
      updates_(options.updates ? std::move(options.updates) : liveUpdates(options)),
      sleepGuard_(std::move(options.sleepInhibitor)),
      transport_(TransportServer::create(
          identity_, registry_, pairing_, router_, descriptor_,
          {options.workerCount, options.handshakeTimeout, std::move(options.advertiser), options.sessionLimits})) {}

AgentService::~AgentService() {
    // The transport goes first: its queue and the stop it does on the way out call back into us.
    transport_.reset();
}

void AgentService::connectTransportCallbacks() {
    std::weak_ptr<AgentService> weak = weak_from_this();
    transport_->setOnStateChange([weak](const TransportState& state) {
        auto self = weak.lock();
        if (!self) return;
        if (state.which == TransportState::Case::listening) {
            std::lock_guard guard(self->portLock_);
            self->listeningPort_ = state.port;
        }
        if (self->onStateChange_) self->onStateChange_(state);
    });
    transport_->setOnConnectionsChange([weak](std::size_t count) {
        auto self = weak.lock();
        if (!self) return;
        self->sleepGuard_.update(count);
        if (self->onConnectionsChange_) self->onConnectionsChange_(count);
    });
}

void AgentService::connectUpdateCallback() {
    std::weak_ptr<AgentService> weak = weak_from_this();
    updates_->setOnChange([weak](const UpdateStatus& status) {
        auto self = weak.lock();
        if (!self) return;
        self->transport_->broadcast("agent.update", status.eventParams());
        if (self->onUpdateChange_) self->onUpdateChange_(status);
    });
}

void AgentService::registerMethodFamilies() {
    // The order is fixed: a method name registered twice keeps the later handler.
    registerBuiltInMethods();
    if (input_) registerInputMethods(*router_, input_);  // 2
    // 3 system (with clipboard and now playing), 4 applications, 5 installed
    // applications, 6 application shortcuts, 7 terminal sessions and saved commands,
    // 8 scriptable applications, 9 hotkey actions, 10 shutdown, 11 updates.
    registerSessionMethods(*router_, sessions_, commands_);            // 7
    registerShutdownMethods(*router_, shutdown_, deviceNameLookup());  // 10
    registerUpdateMethods(*router_, updates_);                         // 11
}

void AgentService::registerBuiltInMethods() {
    std::weak_ptr<AgentService> weak = weak_from_this();
    router_->registerMethod("agent.ping", std::nullopt, false, [](const JSONObject&, const RequestContext&) {
        return JSONObject{{"t", millisecondsSince1970()}};
    });
    router_->markImmediate("agent.ping");
    router_->registerMethod("agent.info", std::nullopt, true, [weak](const JSONObject&, const RequestContext&) {
        auto self = weak.lock();
        if (!self) throw gone();
        return self->agentInfo();
    });
    router_->registerMethod("pair.begin", std::nullopt, false,
                            [weak](const JSONObject& params, const RequestContext& context) {
                                auto self = weak.lock();
                                if (!self) throw gone();
                                return self->pairBegin(params, context);
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
    transport_->start(port, advertise);
}

void AgentService::stop() {
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
