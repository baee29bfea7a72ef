#include "agent/transport/TransportState.h"

namespace kx {

std::string TransportState::description() const {
    switch (which) {
        case Case::listening: return "listening on port " + std::to_string(port);
        case Case::failed: return "failed: " + error;
        case Case::stopped: return "stopped";
        case Case::starting: return "starting";
    }
    return "unknown";
}

}  // namespace kx
