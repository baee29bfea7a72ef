#include "agent/control/InputMutex.h"

namespace kx {

const char* InputMutex::Failure::what() const noexcept {
    return which == Case::targetNotReady ? "target not ready" : "target not found";
}

WireError InputMutex::Failure::wireError() const {
    JSONObject p{{"bundleId", bundleID}};
    if (which == Case::targetNotReady)
        return {ErrorCode::targetNotReady, "That app did not come to the front in time", std::move(p)};
    return {ErrorCode::targetNotFound, "That app is not running", std::move(p)};
}

std::optional<std::string> InputMutex::bringToFront(const std::string& bundleID, const Frontmost& frontmost,
                                                    const Activate& activate) {
    auto previous = frontmost();
    if (frontmost() == bundleID) return previous;
    if (!activate(bundleID)) throw Failure(Failure::Case::targetNotFound, bundleID);

    const auto deadline = clock_.now() + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                             std::chrono::duration<double>(timing_.activationTimeout));
    while (frontmost() != bundleID) {
        if (clock_.now() >= deadline) throw Failure(Failure::Case::targetNotReady, bundleID);
        sleep(timing_.pollInterval);
    }
    sleep(timing_.settle);
    return previous;
}

void InputMutex::afterBody(const std::string& bundleID, const std::optional<std::string>& previous,
                           const Activate& activate, bool restoreFocus) {
    sleep(timing_.settle);
    if (restoreFocus && previous && *previous != bundleID) activate(*previous);
}

}  // namespace kx
