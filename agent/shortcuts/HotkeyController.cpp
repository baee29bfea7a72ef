#include "agent/shortcuts/HotkeyController.h"

#include <algorithm>
#include <cctype>

#include "protocol/WireError.h"

namespace kx {

namespace {

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

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
    auto text = d_.xcodeActivityText ? d_.xcodeActivityText() : std::nullopt;
    if (!text) return {"idle", ""};
    std::string message = trimmed(*text);
    return {stateOf(message), message};
}

std::string HotkeyController::stateOf(const std::string& message) {
    std::string lower = message;
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    // "build succeeded" is covered by "succeeded".
    if (contains(lower, "succeeded")) return "succeeded";
    if (contains(lower, "failed")) return "failed";
    if (contains(lower, "building") || contains(lower, "compiling") || contains(lower, "running")) return "building";
    return "idle";
}

}  // namespace kx
