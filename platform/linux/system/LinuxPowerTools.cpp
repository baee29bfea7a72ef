#include "platform/linux/system/LinuxPowerTools.h"

#include "platform/linux/power/BusMethod.h"
#include "platform/linux/system/DisplaySleep.h"
#include "platform/linux/system/LogindSession.h"
#include "platform/linux/system/NameOwner.h"

namespace kx {

namespace {
constexpr const char* kScreenSaver = "org.freedesktop.ScreenSaver";
constexpr const char* kScreenSaverPath = "/org/freedesktop/ScreenSaver";
// Never a password prompt: the person asking is not at the computer.
constexpr bool kInteractive = false;
}  // namespace

LinuxPowerTools::LinuxPowerTools(BusOpener systemBus, BusOpener sessionBus)
    : systemBus_(std::move(systemBus)), sessionBus_(std::move(sessionBus)) {}

bool LinuxPowerTools::available(Action action) {
    switch (action) {
        case Action::lock: return lockSession(true) || lockScreenSaver(true);
        case Action::sleep: return maySuspend();
        case Action::displaySleep: return DisplaySleep::reachable();
    }
    return false;
}

PowerResult LinuxPowerTools::perform(Action action) {
    switch (action) {
        case Action::lock:
            return lockSession(false) || lockScreenSaver(false) ? PowerResult::done : PowerResult::unavailable;
        case Action::sleep:
            if (!maySuspend()) return PowerResult::unavailable;
            return suspend() ? PowerResult::done : PowerResult::failed;
        case Action::displaySleep: return DisplaySleep::now() ? PowerResult::done : PowerResult::unavailable;
    }
    return PowerResult::unavailable;
}

bool LinuxPowerTools::lockSession(bool dryRun) {
    try {
        auto bus = systemBus_();
        auto session = logind::ownSessionPath(*bus);
        if (!session || dryRun) return session.has_value();
        return callBusMethod(*bus, {logind::service, *session, logind::session, "Lock"}, busCallTimeLimit);
    } catch (const std::exception&) {
        return false;
    }
}

bool LinuxPowerTools::lockScreenSaver(bool dryRun) {
    try {
        auto bus = sessionBus_();
        bool running = nameHasOwner(*bus, kScreenSaver);
        if (!running || dryRun) return running;
        return callBusMethod(*bus, {kScreenSaver, kScreenSaverPath, kScreenSaver, "Lock"}, busCallTimeLimit);
    } catch (const std::exception&) {
        return false;
    }
}

bool LinuxPowerTools::maySuspend() {
    try {
        auto bus = systemBus_();
        auto answer = askBusMethod<std::string>(
            *bus, {logind::service, logind::managerPath, logind::manager, "CanSuspend"}, busCallTimeLimit);
        // "challenge" would need a password prompt, which nobody at the computer may answer.
        return answer == "yes";
    } catch (const std::exception&) {
        return false;
    }
}

bool LinuxPowerTools::suspend() {
    try {
        auto bus = systemBus_();
        return callBusMethod(*bus, {logind::service, logind::managerPath, logind::manager, "Suspend"}, busCallTimeLimit,
                             kInteractive);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace kx
