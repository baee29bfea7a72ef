#include "platform/linux/system/LogindSession.h"

#include <unistd.h>

#include <sdbus-c++/sdbus-c++.h>

namespace kx::logind {

std::optional<std::string> ownSessionPath(sdbus::IConnection& bus) {
    try {
        sdbus::ObjectPath path;
        sdbus::createProxy(bus, service, managerPath)
            ->callMethod("GetSessionByPID")
            .onInterface(manager)
            .withTimeout(callTimeout)
            .withArguments(static_cast<std::uint32_t>(::getpid()))
            .storeResultsTo(path);
        return std::string(path);
    } catch (const sdbus::Error&) {
        return std::nullopt;
    }
}

}  // namespace kx::logind
