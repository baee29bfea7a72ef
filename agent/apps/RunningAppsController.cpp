#include "agent/apps/RunningAppsController.h"

#include <algorithm>

#include "protocol/WireError.h"

namespace kx {

RunningAppsController::RunningAppsController(std::shared_ptr<Workspace> workspace, Options options)
    : workspace_(std::move(workspace)), options_(std::move(options)) {}

std::vector<RunningApp> RunningAppsController::runningApps() const {
    auto apps = workspace_->apps();
    std::erase_if(apps, [](const RunningApp& app) { return !app.regular || app.bundleID.empty(); });
    return apps;
}

std::vector<std::string> RunningAppsController::runningAppIDs() const {
    std::vector<std::string> ids;
    for (auto& app : runningApps()) ids.push_back(std::move(app.bundleID));
    return ids;
}

bool RunningAppsController::activate(const std::string& bundleID) const {
    return workspace_->activate(bundleID);
}

bool RunningAppsController::isQuittable(const RunningApp& app) const {
    return !app.essential && !options_.unquittable.contains(app.bundleID);
}

bool RunningAppsController::quit(const std::string& bundleID) const {
    if (options_.unquittable.contains(bundleID))
        throw WireError(ErrorCode::invalidParams, "That app cannot be quit from here");
    const auto apps = workspace_->apps();
    auto running = std::ranges::find(apps, bundleID, &RunningApp::bundleID);
    if (running == apps.end()) throw WireError(ErrorCode::targetNotFound, "That app is not running");
    if (!isQuittable(*running)) throw WireError(ErrorCode::invalidParams, "That app cannot be quit from here");
    return workspace_->quit(bundleID);
}

std::optional<std::string> RunningAppsController::icon(const std::string& bundleID) const {
    if (options_.entryIcon) {
        if (auto icon = options_.entryIcon(bundleID)) return icon;
    }
    if (!options_.encodeWindowIcon) return std::nullopt;
    auto pixels = workspace_->windowIcon(bundleID);
    return pixels ? options_.encodeWindowIcon(*pixels) : std::nullopt;
}

std::optional<FrontmostApp> RunningAppsController::frontmost() const {
    return workspace_->frontmost();
}

}  // namespace kx
