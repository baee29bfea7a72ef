#include "app/model/ShutdownPanelController.h"

namespace kx {

void ShutdownPanelController::update(const std::optional<ShutdownCountdown::Snapshot>& snapshot) {
    if (!snapshot) {
        if (!view_.isVisible()) return;
        dismissing_ = true;
        view_.close();
        dismissing_ = false;
        return;
    }
    view_.show(snapshot->message(), snapshot->nowButtonTitle(), !view_.isVisible());
}

void ShutdownPanelController::closedByUser() {
    if (!dismissing_) onCancel_();
}

}  // namespace kx
