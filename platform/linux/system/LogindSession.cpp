#include "platform/linux/system/LogindSession.h"

#include <unistd.h>

#include <cstdint>

#include "platform/linux/power/BusMethod.h"

namespace kx::logind {

std::optional<std::string> ownSessionPath(sdbus::IConnection& bus) {
    auto path = askBusMethod<sdbus::ObjectPath>(bus, {service, managerPath, manager, "GetSessionByPID"},
                                                busCallTimeLimit, static_cast<std::uint32_t>(::getpid()));
    if (!path) return std::nullopt;
    return std::string(*path);
}

}  // namespace kx::logind
