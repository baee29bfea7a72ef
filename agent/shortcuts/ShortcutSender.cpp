#include "agent/shortcuts/ShortcutSender.h"

#include <algorithm>
#include <cmath>

#include "agent/shortcuts/ShortcutChord.h"
#include "protocol/WireError.h"

namespace kx {

namespace {

WireError notInFront() {
    return {ErrorCode::targetNotReady, "That app didn't come to the front, so the shortcut wasn't sent"};
}

}  // namespace

ShortcutSender::ShortcutSender(Dependencies dependencies) : d_(std::move(dependencies)) {}

void ShortcutSender::send(const std::string& appID, const std::string& chord) const {
    const KeyChord keyChord = ShortcutChord::validate(chord);
    const auto running = d_.running();
    const bool isRunning = std::ranges::find(running, appID) != running.end();
    std::optional<InstalledApp> installed;
    for (auto& app : d_.installedApps()) {
        if (app.bundleID == appID) {
            installed = std::move(app);
            break;
        }
    }
    if (!isRunning && !installed) throw WireError(ErrorCode::targetNotFound, "That app is not installed");
    if (!d_.mayInjectInput())
        throw WireError(ErrorCode::permissionDenied, "Accessibility not granted",
                        JSONObject{{"permission", "accessibility"}});

    d_.mutex->hold([&] {
        bringForward(appID, isRunning, installed);
        // A small epsilon keeps 3.0 / 0.1 at 30 looks despite binary fractions.
        auto remaining = static_cast<long>(std::max(0.0, std::floor(d_.timeout / d_.interval + 1e-9)));
        while (d_.frontmost() != appID) {
            if (remaining == 0) throw notInFront();
            d_.sleep(d_.interval);
            --remaining;
        }
        d_.sleep(settle);
        d_.post(keyChord);
    });
}

void ShortcutSender::bringForward(const std::string& appID, bool isRunning,
                                  const std::optional<InstalledApp>& installed) const {
    if (isRunning && d_.activate(appID)) return;
    if (!installed) throw notInFront();
    if (!d_.launch(*installed)) throw WireError(ErrorCode::internal, "Could not open that app");
}

}  // namespace kx
