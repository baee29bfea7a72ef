#include "agent/permissions/PermissionCoordinator.h"

namespace kx {

std::shared_ptr<PermissionCoordinator> PermissionCoordinator::make(Parts parts) {
    std::shared_ptr<PermissionCoordinator> coordinator(new PermissionCoordinator(std::move(parts)));
    coordinator->refresh();
    return coordinator;
}

PermissionCoordinator::PermissionCoordinator(Parts parts) : parts_(std::move(parts)) {
    atLaunch_ = parts_.probe->snapshot(parts_.evaluator.requirements);
}

void PermissionCoordinator::refresh() {
    current_ = parts_.probe->snapshot(parts_.evaluator.requirements);
    step_ = parts_.evaluator.step(current_, atLaunch_);
    advisories_ = parts_.evaluator.advisories(current_);
    if (step_.isReady())
        stopPolling();
    else
        startPolling();
    if (onChange_) onChange_();
}

void PermissionCoordinator::startPolling() {
    if (pollTask_) return;
    std::weak_ptr<PermissionCoordinator> weak = weak_from_this();
    pollTask_ = parts_.main->every(parts_.pollInterval, [weak] {
        if (auto self = weak.lock()) self->refresh();
    });
}

void PermissionCoordinator::stopPolling() {
    if (pollTask_) pollTask_->cancel();
    pollTask_.reset();
}

void PermissionCoordinator::request(const Requirement& requirement) {
    parts_.probe->prompt(requirement);
    openSettings(requirement);
    refresh();
}

void PermissionCoordinator::openSettings(const Requirement& requirement) {
    auto url = requirement.settingsURL();
    if (url && parts_.openSettings) parts_.openSettings(*url);
}

void PermissionCoordinator::relaunch() {
    if (parts_.relaunch) parts_.relaunch();
}

}  // namespace kx
