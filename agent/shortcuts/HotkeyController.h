#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "agent/control/InputMutex.h"
#include "agent/control/KeyChord.h"

namespace kx {

// An application driven by fixed shortcuts: its identifier and its actions' chords.
struct HotkeyApp {
    std::string bundleID;
    std::map<std::string, std::string> chords;  // action name (exact case) → chord
};

// Sends fixed chords for named actions to Xcode and Slack: brings the application to the front
// (never launching it) under the input mutex, then posts the chord.
class HotkeyController {
public:
    struct Dependencies {
        std::shared_ptr<InputMutex> mutex;
        std::function<void(const KeyChord&)> post;
        std::function<std::optional<std::string>()> frontmost;
        std::function<bool(const std::string& bundleID)> activate;
    };

    // Xcode's identifier and actions; the same everywhere, so that a platform without Xcode
    // answers its methods as for an Xcode that is not running.
    static const HotkeyApp& xcodeApp();

    // `slack` holds the platform's Slack identifier and chords.
    HotkeyController(Dependencies dependencies, HotkeyApp slack);

    // Throw WireError: invalid_params "Unknown Xcode action" / "Unknown Slack action",
    // target_not_found "That app is not running" or target_not_ready "That app did not come to
    // the front in time" (each with its bundleId), internal "Bad chord table entry".
    void xcode(const std::string& action) const;
    void slack(const std::string& action) const;
    // (state, message). Reading Xcode's activity view needs a platform where Xcode runs; until one
    // provides it the status is that of a closed Xcode: ("idle", "").
    std::pair<std::string, std::string> xcodeStatus() const;
    // Parses the chord, brings the application forward and posts it.
    void post(const std::string& chord, const std::string& bundleID) const;

private:
    Dependencies d_;
    HotkeyApp slack_;
};

}  // namespace kx
