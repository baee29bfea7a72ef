#include "agent/update/UpdateState.h"

namespace kx {

std::string_view rawValue(UpdateState state) {
    switch (state) {
        case UpdateState::idle: return "idle";
        case UpdateState::checking: return "checking";
        case UpdateState::available: return "available";
        case UpdateState::downloading: return "downloading";
        case UpdateState::verifying: return "verifying";
        case UpdateState::installing: return "installing";
        case UpdateState::failed: return "failed";
        case UpdateState::upToDate: return "upToDate";
        case UpdateState::paused: return "paused";
    }
    return "idle";
}

bool isBusy(UpdateState state) {
    return state == UpdateState::checking || state == UpdateState::downloading || state == UpdateState::verifying ||
           state == UpdateState::installing;
}

}  // namespace kx
