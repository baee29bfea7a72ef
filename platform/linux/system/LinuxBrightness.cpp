#include "platform/linux/system/LinuxBrightness.h"

#include "platform/linux/power/BusMethod.h"
#include "platform/linux/system/Backlight.h"
#include "platform/linux/system/LogindSession.h"
#include "platform/linux/system/NameOwner.h"

namespace kx {

namespace {
constexpr const char* kDesktopService = "org.gnome.SettingsDaemon.Power";
constexpr const char* kDesktopPath = "/org/gnome/SettingsDaemon/Power";
constexpr const char* kDesktopScreen = "org.gnome.SettingsDaemon.Power.Screen";
constexpr const char* kSubsystem = "backlight";
}  // namespace

LinuxBrightness::LinuxBrightness(BusOpener sessionBus, BusOpener systemBus, std::filesystem::path backlights)
    : sessionBus_(std::move(sessionBus)), systemBus_(std::move(systemBus)), backlights_(std::move(backlights)) {}

bool LinuxBrightness::available() {
    return desktopStep(true, true) || backlightStep(true, true);
}

bool LinuxBrightness::step(bool up) {
    return desktopStep(up, false) || backlightStep(up, false);
}

bool LinuxBrightness::desktopStep(bool up, bool dryRun) {
    try {
        auto bus = sessionBus_();
        bool running = nameHasOwner(*bus, kDesktopService);
        if (!running || dryRun) return running;
        return callBusMethod(*bus, {kDesktopService, kDesktopPath, kDesktopScreen, up ? "StepUp" : "StepDown"},
                             busCallTimeLimit);
    } catch (const std::exception&) {
        return false;
    }
}

bool LinuxBrightness::backlightStep(bool up, bool dryRun) {
    auto backlight = Backlight::best(backlights_);
    if (!backlight) return false;
    try {
        auto bus = systemBus_();
        auto session = logind::ownSessionPath(*bus);
        if (!session || dryRun) return session.has_value();
        // logind writes the value for the session's user, who may not write /sys.
        return callBusMethod(*bus, {logind::service, *session, logind::session, "SetBrightness"}, busCallTimeLimit,
                             kSubsystem, backlight->name, backlight->stepped(up));
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace kx
