#include "agent/system/SystemMethods.h"

#include "agent/support/PlatformText.h"
#include "protocol/Params.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

constexpr bool kRequiresAuth = true;

// Requests of one session that change the same thing take effect in the order they were sent, so a
// slider dragged on the phone ends where the finger stopped.
const OrderedTarget volumeTarget{"volume", std::nullopt};
const OrderedTarget brightnessTarget{"brightness", std::nullopt};
const OrderedTarget mediaTarget{"media", std::nullopt};

// The capability when the port works here; a hint when it exists but does not; neither without it.
std::optional<Capability> offered(CommandRouter& router, bool hasPort, bool works, const Capability& capability,
                                  SetupHint hint) {
    if (works) return capability;
    if (hasPort) router.registerHint(capability, std::move(hint));
    return std::nullopt;
}

bool anyPowerAction(PowerTools& power) {
    return power.available(PowerTools::Action::lock) || power.available(PowerTools::Action::sleep) ||
           power.available(PowerTools::Action::displaySleep);
}

}  // namespace

void registerSystemMethods(CommandRouter& router, std::shared_ptr<SystemController> system,
                           std::shared_ptr<NowPlayingController> nowPlaying) {
    const SystemPorts& ports = system->ports();
    const bool playersWork = ports.players && ports.players->available();
    auto media = offered(router, ports.players != nullptr, playersWork, Capability::systemMedia,
                         {PlatformText::mediaMissing, std::nullopt});
    auto nowPlayingCapability = offered(router, ports.players != nullptr, playersWork, Capability::systemNowPlaying,
                                        {PlatformText::mediaMissing, std::nullopt});
    auto volume = offered(router, ports.audio != nullptr, ports.audio && ports.audio->available(),
                          Capability::systemVolume, {PlatformText::audioMissing, PlatformText::audioInstallCommand});
    auto brightness = offered(router, ports.brightness != nullptr, ports.brightness && ports.brightness->available(),
                              Capability::systemBrightness, {PlatformText::brightnessMissing, std::nullopt});
    auto power = offered(router, ports.power != nullptr, ports.power && anyPowerAction(*ports.power),
                         Capability::systemPower, {PlatformText::powerMissing, std::nullopt});

    router.registerMethod("system.state", std::nullopt, kRequiresAuth,
                          [system](const JSONObject&, const RequestContext&) { return system->snapshot(); });
    router.registerMethod("system.nowplaying", nowPlayingCapability, kRequiresAuth,
                          [nowPlaying](const JSONObject&, const RequestContext&) { return nowPlaying->currentJSON(); });
    router.registerMethod(
        "system.volume.set", volume, kRequiresAuth,
        [system](const JSONObject& p, const RequestContext&) {
            auto level = params::number(p, "level");
            if (!level) throw WireError::invalidParams("level is required");
            // Single precision, as the output stores it: 0.3 comes back as 0.30000001192092896.
            return JSONObject{{"level", static_cast<double>(system->setVolume(static_cast<float>(*level)))}};
        },
        volumeTarget);
    router.registerMethod(
        "system.volume.mute", volume, kRequiresAuth,
        [system](const JSONObject& p, const RequestContext&) {
            auto on = params::boolean(p, "on");
            if (!on) throw WireError::invalidParams("on is required");
            return JSONObject{{"muted", system->setMuted(*on)}};
        },
        volumeTarget);
    router.registerMethod(
        "system.brightness.step", brightness, kRequiresAuth,
        [system](const JSONObject& p, const RequestContext&) {
            system->stepBrightness(params::number(p, "delta").value_or(1));
            return JSONObject{};
        },
        brightnessTarget);
    router.registerMethod(
        "system.media", media, kRequiresAuth,
        [system](const JSONObject& p, const RequestContext&) {
            system->media(params::requiredString(p, "action"));
            return JSONObject{};
        },
        mediaTarget);
    router.registerMethod("system.power", power, kRequiresAuth, [system](const JSONObject& p, const RequestContext&) {
        system->power(params::requiredString(p, "action"));
        return JSONObject{};
    });
}

}  // namespace kx
