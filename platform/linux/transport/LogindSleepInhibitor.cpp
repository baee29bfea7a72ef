#include "platform/linux/transport/LogindSleepInhibitor.h"

#include <sdbus-c++/sdbus-c++.h>

#include "platform/linux/power/BusMethod.h"
#include "platform/linux/power/LogindNames.h"

namespace kx {

namespace {
constexpr const char* what = "idle:sleep";
constexpr const char* who = "Kestrix";
constexpr const char* mode = "block";

// The lock lives exactly as long as logind's descriptor stays open.
class LogindInhibition : public SleepInhibition {
public:
    explicit LogindInhibition(sdbus::UnixFd lock) : lock_(std::move(lock)) {}

private:
    sdbus::UnixFd lock_;
};
}  // namespace

std::unique_ptr<SleepInhibition> LogindSleepInhibitor::inhibit(const std::string& reason) {
    try {
        auto connection = sdbus::createSystemBusConnection();
        auto lock =
            askBusMethod<sdbus::UnixFd>(*connection, {logind::service, logind::managerPath, logind::manager, "Inhibit"},
                                        busCallTimeLimit, what, who, reason, mode);
        if (!lock || !lock->isValid()) return nullptr;  // no logind, or logind said no
        return std::make_unique<LogindInhibition>(std::move(*lock));
    } catch (const std::exception&) {
        // No system bus, or out of descriptors or memory: the machine may sleep, the agent goes on.
        return nullptr;
    }
}

}  // namespace kx
