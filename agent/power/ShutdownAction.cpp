#include "agent/power/ShutdownAction.h"

namespace kx {

std::string_view rawValue(ShutdownAction action) {
    switch (action) {
        case ShutdownAction::shutdown: return "shutdown";
        case ShutdownAction::restart: return "restart";
    }
    return "shutdown";
}

std::optional<ShutdownAction> shutdownActionFromRaw(std::string_view text) {
    for (ShutdownAction action : allShutdownActions) {
        if (rawValue(action) == text) return action;
    }
    return std::nullopt;
}

}  // namespace kx
