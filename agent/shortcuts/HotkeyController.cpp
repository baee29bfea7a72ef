#include "agent/shortcuts/HotkeyController.h"

#include "protocol/WireError.h"

namespace kx {

const HotkeyApp& HotkeyController::xcodeApp() {
    static const HotkeyApp xcode{
        "com.apple.dt.Xcode",
        {{"build", "meta+b"}, {"run", "meta+r"}, {"stop", "meta+."}, {"test", "meta+u"}, {"clean", "meta+shift+k"}}};
    return xcode;
}

HotkeyController::HotkeyController(Dependencies dependencies, HotkeyApp slack)
    : d_(std::move(dependencies)), slack_(std::move(slack)) {}

void HotkeyController::xcode(const std::string& action) const {
    const auto& app = xcodeApp();
    auto chord = app.chords.find(action);
    if (chord == app.chords.end()) throw WireError::invalidParams("Unknown Xcode action");
    post(chord->second, app.bundleID);
}

void HotkeyController::slack(const std::string& action) const {
    auto chord = slack_.chords.find(action);
    if (chord == slack_.chords.end()) throw WireError::invalidParams("Unknown Slack action");
    post(chord->second, slack_.bundleID);
}

void HotkeyController::post(const std::string& chord, const std::string& bundleID) const {
    KeyChord parsed;
    try {
        parsed = KeyChord::parse(chord);
    } catch (const KeyChordError&) {
        throw WireError(ErrorCode::internal, "Bad chord table entry");
    }
    try {
        d_.mutex->run(bundleID, d_.frontmost, d_.activate, false, [&] { d_.post(parsed); });
    } catch (const InputMutex::Failure& failure) {
        throw failure.wireError();
    }
}

std::pair<std::string, std::string> HotkeyController::xcodeStatus() const {
    return {"idle", ""};
}

}  // namespace kx
