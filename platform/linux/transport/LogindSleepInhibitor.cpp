#include "platform/linux/transport/LogindSleepInhibitor.h"

#include <sdbus-c++/sdbus-c++.h>

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
        auto proxy = sdbus::createProxy(*connection, logind::service, logind::managerPath);
        sdbus::UnixFd lock;
        proxy->callMethod("Inhibit")
            .onInterface(logind::manager)
            .withArguments(what, who, reason, mode)
            .withTimeout(callTimeout)
            .storeResultsTo(lock);
        if (!lock.isValid()) return nullptr;
        return std::make_unique<LogindInhibition>(std::move(lock));
    } catch (const sdbus::Error&) {
        return nullptr;  // no system bus, no logind, or logind said no
    } catch (const std::exception&) {
        return nullptr;  // out of descriptors or memory: the machine may sleep, the agent goes on
    }
}

}  // namespace kx
